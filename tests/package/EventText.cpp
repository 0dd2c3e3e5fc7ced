// EventText.cpp: prints the text of an event as the event viewer renders it:
// the message ID of the message table of DLL (loaded as data), formatted with
// the insertion strings that follow.
//
//   kalvora_event_text.exe DLL ID [STRING...]   (UTF-8 on stdout; 1 on failure)
#include <windows.h>

#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    std::vector<DWORD_PTR> args;
    for (int i = 3; i <= argc; ++i)  // the strings, then the null after them
        args.push_back(reinterpret_cast<DWORD_PTR>(argv[i]));
    HMODULE dll = argc < 3 ? nullptr : LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t* text = nullptr;
    const DWORD len = !dll ? 0
                           : FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                                FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                            dll, std::wcstoul(argv[2], nullptr, 0), 0,
                                            reinterpret_cast<wchar_t*>(&text), 0,
                                            reinterpret_cast<va_list*>(args.data()));
    std::string utf8(len * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text, int(len), &utf8[0], int(utf8.size()), nullptr, nullptr));
    std::cout << utf8;
    return len == 0;
}
