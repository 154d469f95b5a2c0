#pragma once

#include <cstdint>

namespace pyranex {

// Window message numbers posted to the power view. The ui uses them as QEvent types.
// wParam of both: the link connection that posted it (CInverterCom::Connection).
inline constexpr uint32_t WM_INV_REGISTER = 1124;       // WM_USER + 100; lParam: one register value
inline constexpr uint32_t WM_INV_TIMEOUT = 1127;        // WM_USER + 103; lParam: 1
inline constexpr uint32_t WM_EXPORT_DONE = 0x8068;      // WM_APP + 0x68
inline constexpr uint32_t WM_EXPORT_PROGRESS = 0x8069;  // WM_APP + 0x69; examined, total

}  // namespace pyranex
