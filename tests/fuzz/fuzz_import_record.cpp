// Cutting one record of the import file: the user is field 6, the computer
// field 8, each only when a comma ends it.
#include "FuzzSupport.h"
#include "collection/ImportRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<wchar_t> chars = Widen(data, size);
    const std::wstring_view line(chars.data(), size);
    const kalvora::ImportRecord record = kalvora::CutImportRecord(line);
    // The fields, cut independently at every comma; the last one has none after it.
    std::vector<std::wstring_view> fields;
    for (std::size_t start = 0, comma = 0; comma != std::wstring_view::npos; start = comma + 1) {
        comma = line.find(L',', start);
        fields.push_back(line.substr(start, comma - start));
    }
    FUZZ_CHECK(record.user == (fields.size() > 6 ? fields[5] : std::wstring_view()));
    FUZZ_CHECK(record.computer == (fields.size() > 8 ? fields[7] : std::wstring_view()));
    return 0;
}
