// Network.h: asking the network whether a computer answers.
#pragma once

#include <windows.h>

namespace kalvora {

// Asks the network for the resource information of a computer (\\name), as
// both the profile probe and the computer check do: 0 when it answers, else
// the platform's error. A null name is asked as such.
DWORD QueryComputer(const wchar_t* uncComputer) noexcept;

}  // namespace kalvora
