#!/usr/bin/python3
"""A standard Modbus RTU server (pymodbus) reachable as COM<n> through a ports folder.

pymodbus opens a serial device by name, and so does the program, so two pseudo-terminals are
joined back to back: the program opens one slave (ports/COM<n> points at it), pymodbus the other.

Usage: pymodbus_server.py PORTS_DIR COM_NUMBER
Prints "READY <link>" when serving; ends on SIGTERM or SIGINT and removes the link.
"""

import logging
import os
import select
import signal
import sys
import threading
import tty

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer

# Input registers by the program's number (wire address = number - 1).
INPUT = {
    1: 0x1234, 2: 0x5678, 3: 0x9012,        # serial number 123456789012
    11: 3456,                               # Udc 345.6 V
    15: 2311,                               # Uac 231.1 V
    21: 4997,                               # 49.97 Hz
    22: 0, 23: 12345,                       # Pac 1234.5 W
    24: 87,                                 # Etoday 8.7 kWh
    25: 1, 26: 2,                           # Etotal 6553.8 kWh
    27: 0, 28: 95,                          # 95 min today
    29: 0, 30: 4321,                        # 4321 h
    31: 412,                                # 41.2 degrees
    32: 17,                                 # current zero shift
    35: 0xFFFD,                             # -3 mA
    39: 0, 40: 4,                           # fault bit 2
    41: 1,                                  # inverting
    44: 30,                                 # 3000 W
    45: 321,                                # V3.21
}
ADDRESS_REGISTER = 0x0001  # register 361: slave address 1


def bridge(a, b):
    while True:
        ready, _, _ = select.select([a, b], [], [])
        for src in ready:
            try:
                data = os.read(src, 4096)
            except OSError:
                return
            if not data:
                return
            os.write(b if src == a else a, data)


def main():
    ports_dir, com = sys.argv[1], int(sys.argv[2])
    program_master, program_slave = os.openpty()
    server_master, server_slave = os.openpty()
    for fd in (program_master, server_master, program_slave, server_slave):
        tty.setraw(fd)
    link = os.path.join(ports_dir, "COM%d" % com)
    os.makedirs(ports_dir, exist_ok=True)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(program_slave), link)

    def stop(*_):
        if os.path.lexists(link):
            os.unlink(link)
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    threading.Thread(target=bridge, args=(program_master, server_master), daemon=True).start()

    inputs = [0] * 100
    for number, value in INPUT.items():
        inputs[number - 1] = value
    holding = [0] * 100
    holding[361 - 301] = ADDRESS_REGISTER
    store = ModbusSlaveContext(ir=ModbusSequentialDataBlock(0, inputs),
                               hr=ModbusSequentialDataBlock(0, holding), zero_mode=True)
    context = ModbusServerContext(slaves=store, single=True)
    logging.basicConfig(level=logging.CRITICAL)
    print("READY %s" % link, flush=True)
    StartSerialServer(context=context, framer=ModbusRtuFramer, port=os.ttyname(server_slave),
                      baudrate=9600, bytesize=8, parity="N", stopbits=1, timeout=0.05)


if __name__ == "__main__":
    main()
