// ImportRecord.cpp: cutting one record of the import file.
#include "collection/ImportRecord.h"

namespace kalvora {

namespace {

// Drops the text up to and with the first comma; without one, nothing.
void SkipField(std::wstring_view& rest)
{
    const std::size_t comma = rest.find(L',');
    if (comma != std::wstring_view::npos)
        rest.remove_prefix(comma + 1);
}

// The text before the first comma, or nothing when there is none.
std::wstring_view Field(std::wstring_view rest)
{
    const std::size_t comma = rest.find(L',');
    return comma == std::wstring_view::npos ? std::wstring_view() : rest.substr(0, comma);
}

}  // namespace

ImportRecord CutImportRecord(std::wstring_view line)
{
    std::wstring_view rest = line;
    for (int field = 1; field <= 5; ++field)
        SkipField(rest);
    ImportRecord record;
    record.user = Field(rest);
    SkipField(rest);  // field 6, the user name
    SkipField(rest);  // field 7
    record.computer = Field(rest);
    return record;
}

}  // namespace kalvora
