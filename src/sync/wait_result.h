// Timeouts and the results of every wait, with the values the Windows waits return, so that a
// result reads the same on both platforms.
#ifndef VEXIL_SYNC_WAIT_RESULT_H_
#define VEXIL_SYNC_WAIT_RESULT_H_

#include <cstdint>

namespace vexil {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitAbandoned0 = 0x80;
constexpr uint32_t kWaitIoCompletion = 0xC0;
constexpr uint32_t kWaitTimeout = 0x102;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
// The most objects or handles one wait takes.
constexpr uint32_t kMaxWaitObjects = 64;

}  // namespace vexil

#endif  // VEXIL_SYNC_WAIT_RESULT_H_
