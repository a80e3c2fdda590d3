// Thousands of generated command lines through the updater's parser, each checked against
// the reading rules written out independently here, and against properties every result must
// have.
#include "command_line.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The rules, as an operator would state them: options are whole arguments in any letter
// case; "--appDir" and "--exeName" take the next argument whatever it is, unless they are
// last; an empty "--appDir" value changes nothing; everything else names the executable;
// the last setting of each kind wins.
CommandLineOptions expectedOptions(const std::vector<std::wstring>& arguments) {
    auto lower = [](std::wstring s) {
        for (wchar_t& c : s) {
            if (c >= L'A' && c <= L'Z') {
                c = static_cast<wchar_t>(c - L'A' + L'a');
            }
        }
        return s;
    };
    CommandLineOptions expected;
    std::size_t i = 0;
    while (i < arguments.size()) {
        const std::wstring word = lower(arguments[i]);
        const bool last = i + 1 == arguments.size();
        if ((word == L"--appdir" || word == L"--exename") && last) {
            break; // an option without its value is ignored
        }
        if (word == L"--appdir") {
            std::wstring value = arguments[i + 1];
            if (!value.empty()) {
                for (wchar_t& c : value) {
                    c = c == L'/' ? L'\\' : c;
                }
                expected.appDir = value.back() == L'\\' ? value : value + L'\\';
            }
            i += 2;
        } else if (word == L"--exename") {
            expected.exeName = arguments[i + 1];
            i += 2;
        } else {
            if (word == L"--keepold") {
                expected.keepOld = true;
            } else if (word == L"--check-updates") {
                expected.checkUpdates = true;
            } else {
                expected.exeName = arguments[i];
            }
            i += 1;
        }
    }
    return expected;
}

std::wstring randomCase(std::wstring word, std::mt19937& random) {
    for (wchar_t& c : word) {
        if (random() % 2 && c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return word;
}

std::wstring randomArgument(std::mt19937& random) {
    static const wchar_t* const pieces[] = {
        L"--appDir",
        L"--exeName",
        L"--keepOld",
        L"--check-updates",
        L"--appDir=C:\\x",
        L"/appDir",
        L"/keepOld",
        L"-keepOld",
        L"--",
        L"",
        L" ",
        L"\"",
        L"a\"b",
        L"C:/Srv/App",
        L"C:\\Srv\\App\\",
        L"\\\\host\\share",
        L"kyrServer64",
        L"kyrServer.EXE",
        L"x.exe",
        L"exe",
        L".exe",
        L"\u0421\u0435\u0440\u0432\u0435\u0440",
        L"\u041f\u0430\u043f\u043a\u0430/",
        L"a b",
        L"=",
        L"/",
        L"\\",
        L"--keepOld\\",
    };
    const std::size_t kinds = std::size(pieces) + 2;
    const std::size_t pick = random() % kinds;
    if (pick < std::size(pieces)) {
        return randomCase(pieces[pick], random);
    }
    if (pick == std::size(pieces)) {
        return std::wstring(1 + random() % 40000, L'v'); // very long value
    }
    std::wstring any; // arbitrary UTF-16 units, lone surrogates included
    for (std::size_t n = random() % 8; n > 0; --n) {
        any += static_cast<wchar_t>(1 + random() % 0xFFFF);
    }
    return any;
}

} // namespace

TEST(CommandLineRandom, GeneratedCommandLinesFollowTheReadingRules) {
    std::mt19937 random(20261210);
    const std::wstring ownDir = L"C:\\Own";
    for (int run = 0; run < 4000; ++run) {
        std::vector<std::wstring> arguments(random() % 9);
        for (auto& argument : arguments) {
            argument = randomArgument(random);
        }
        const bool wow64 = random() % 2;
        const CommandLineOptions options = parseArguments(arguments);
        const CommandLineOptions expected = expectedOptions(arguments);
        ASSERT_EQ(options.appDir, expected.appDir) << "run " << run;
        ASSERT_EQ(options.exeName, expected.exeName) << "run " << run;
        ASSERT_EQ(options.keepOld, expected.keepOld) << "run " << run;
        ASSERT_EQ(options.checkUpdates, expected.checkUpdates) << "run " << run;

        const RunSettings settings = normaliseSettings(options, ownDir, wow64);
        const std::wstring defaultName = wow64 ? L"kyrServer64.exe" : L"kyrServer.exe";
        ASSERT_GE(settings.exeName.size(), 4u);
        ASSERT_EQ(_wcsicmp(settings.exeName.c_str() + settings.exeName.size() - 4, L".exe"), 0);
        ASSERT_EQ(settings.defaultName, settings.exeName == defaultName);
        if (expected.exeName.empty()) {
            ASSERT_EQ(settings.exeName, defaultName);
        }
        if (expected.appDir.empty()) {
            ASSERT_EQ(settings.appDir, ownDir);
        } else {
            ASSERT_EQ(settings.appDir.back(), L'\\');
            ASSERT_EQ(settings.appDir.find(L'/'), std::wstring::npos);
        }
    }
}
