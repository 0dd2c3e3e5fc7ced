// EventText.cpp: prints the text of an event as the event viewer renders it:
// the message of ID in the message table of DLL (loaded as data), formatted
// by FormatMessageW with the insertion strings that follow.
//
//   kalvora_event_text.exe DLL ID [STRING...]   (UTF-8 on stdout; 1 on failure)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kalvora_event_text DLL ID [STRING...]\n");
        return 2;
    }
    HMODULE dll = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!dll) {
        std::fprintf(stderr, "cannot load the message file (error %lu)\n", GetLastError());
        return 1;
    }
    const DWORD id = std::wcstoul(argv[2], nullptr, 0);
    std::vector<DWORD_PTR> args;
    for (int i = 3; i < argc; ++i)
        args.push_back(reinterpret_cast<DWORD_PTR>(argv[i]));
    args.push_back(0);
    wchar_t* text = nullptr;
    DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                   FORMAT_MESSAGE_ALLOCATE_BUFFER,
                               dll, id, 0, reinterpret_cast<wchar_t*>(&text), 0,
                               reinterpret_cast<va_list*>(args.data()));
    int rc = 0;
    if (len == 0) {
        std::fprintf(stderr, "no message 0x%08lX (error %lu)\n", id, GetLastError());
        rc = 1;
    } else {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), &utf8[0], bytes, nullptr, nullptr);
        std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        LocalFree(text);
    }
    FreeLibrary(dll);
    return rc;
}
