#pragma once
// Whether the tests run on Windows, for the few that need a POSIX shell or file system and are
// skipped there with the reason. (The test targets of a Windows build define the macro.)

namespace talkgate::faults {

#ifdef TALKGATE_TESTS_ON_WINDOWS
inline constexpr bool kTestsOnWindows = true;
#else
inline constexpr bool kTestsOnWindows = false;
#endif

}  // namespace talkgate::faults
