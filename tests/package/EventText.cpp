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
    HMODULE dll = argc < 3 ? nullptr : LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const DWORD id = argc < 3 ? 0 : std::wcstoul(argv[2], nullptr, 0);
    std::vector<DWORD_PTR> args;
    for (int i = 3; i <= argc; ++i)  // the strings, then the null after them
        args.push_back(reinterpret_cast<DWORD_PTR>(argv[i]));
    wchar_t* text = nullptr;
    const DWORD len = !dll ? 0 : FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                                dll, id, 0, reinterpret_cast<wchar_t*>(&text), 0, reinterpret_cast<va_list*>(args.data()));
    if (!len) {
        if (argc < 3)
            std::fprintf(stderr, "usage: kalvora_event_text DLL ID [STRING...]\n");
        else
            std::fprintf(stderr, dll ? "no message 0x%08lX (error %lu)\n" : "cannot load the message file for 0x%08lX (error %lu)\n", id, GetLastError());
        return 1;
    }
    std::string utf8(len * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text, int(len), &utf8[0], int(utf8.size()), nullptr, nullptr));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    LocalFree(text);
    FreeLibrary(dll);
    return 0;
}
