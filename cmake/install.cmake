# `cmake --install <build> --prefix <folder>` gives one flat folder that runs from itself: the
# programs, the files they read from the current folder (datacfg.xls, the pictures, the system
# text), the manual beside the executable, the icon and a desktop entry whose working folder is
# the install folder. Qt and the other libraries come from the system.
set(PYRANEX_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(PYRANEX_RUNTIME_FILES
  ${PYRANEX_DATA_DIR}/1.bmp
  ${PYRANEX_DATA_DIR}/2.bmp
  ${PYRANEX_DATA_DIR}/myfile.rtf)
set(PYRANEX_HELP_FILES ${PYRANEX_DATA_DIR}/help/QuorvaneHlp.html)

foreach(target pyranex pyranex-cli inverter-sim)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION .)
  endif()
endforeach()
if(TARGET datacfg)
  install(FILES ${PYRANEX_DATACFG_XLS} DESTINATION .)
endif()
install(FILES ${PYRANEX_RUNTIME_FILES} ${PYRANEX_HELP_FILES} ${PYRANEX_DATA_DIR}/ui/quorvane.png
        DESTINATION .)

# The desktop entry names the folder the install really went to (--prefix may change it).
install(CODE "
  set(dir \"\${CMAKE_INSTALL_PREFIX}\")
  get_filename_component(dir \"\${dir}\" ABSOLUTE)
  set(QUORVANE_DIR \"\${dir}\")
  set(QUORVANE_EXEC \"\\\"\${dir}/pyranex\\\"\")
  configure_file(\"${PYRANEX_DATA_DIR}/quorvane.desktop.in\"
                 \"\$ENV{DESTDIR}\${dir}/quorvane.desktop\" @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${dir}/quorvane.desktop\")
")

# The systemd unit of a headless MQTT logger, naming the same folder (see the README).
if(TARGET pyranex_cli_mqtt)
  install(CODE "
    set(dir \"\${CMAKE_INSTALL_PREFIX}\")
    get_filename_component(dir \"\${dir}\" ABSOLUTE)
    set(PYRANEX_DIR \"\${dir}\")
    configure_file(\"${PYRANEX_DATA_DIR}/pyranex-mqtt.service.in\"
                   \"\$ENV{DESTDIR}\${dir}/pyranex-mqtt.service\" @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${dir}/pyranex-mqtt.service\")
  ")
endif()

# The build tree runs the same way: the current-folder files at the top of the build folder
# (where datacfg.xls is), the manual beside the program.
foreach(file IN LISTS PYRANEX_RUNTIME_FILES)
  configure_file(${file} ${CMAKE_BINARY_DIR} COPYONLY)
endforeach()
if(TARGET pyranex)
  add_custom_target(pyranex_help ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PYRANEX_HELP_FILES} $<TARGET_FILE_DIR:pyranex>
    DEPENDS ${PYRANEX_HELP_FILES}
    COMMENT "Copying the manual beside pyranex"
    VERBATIM)
  add_dependencies(pyranex_help pyranex)
endif()
