// ImportRecord.h: the fields that the import file gives a new user.
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
#pragma once

#include <string>
#include <string_view>

namespace kalvora {

// One record of the console's comma-separated export: the user name is field
// 6 and the computer field 8, each taken up to the next comma. There is no
// quoting, escaping or trimming; a field that no comma ends is empty, so a
// record that ends right after the computer name gives an empty computer.
struct ImportRecord {
    std::wstring user;
    std::wstring computer;
};
ImportRecord CutImportRecord(std::wstring_view line);

}  // namespace kalvora
