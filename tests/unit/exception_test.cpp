// Exception text composition against the system's own messages.
#include "support/exception.h"
#include "support/unique_handle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

using kyrtest::systemMessage;

namespace {

// A code for which the system has no message.
constexpr DWORD kNoMessage = 0x7FFF;

std::wstring fullSystemMessage(DWORD code) {
    // FormatMessageW's text as it is, with its CR LF.
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0x0409, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory<wchar_t> owned(buffer);
    return n ? std::wstring(buffer, n) : std::wstring();
}

} // namespace

TEST(Exception, ComposesContextAndSystemMessage) {
    // The system's English text for code 2. A Windows without English message files has
    // none: there the text is the context alone, as for a code without a message.
    const std::wstring m2 = fullSystemMessage(ERROR_FILE_NOT_FOUND);
    std::wstring withContext = L"getAppDir()";
    std::wstring alone = L"Unknow error";
    if (!m2.empty()) {
        ASSERT_EQ(m2.back(), L'\n');
        const std::wstring m2WithoutLf = m2.substr(0, m2.size() - 1);
        withContext += L": " + m2WithoutLf;
        alone = m2WithoutLf;
    }

    struct Case {
        std::wstring context;
        DWORD code;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", 0, L"Unknow error"},
        {L"getAppDir()", 0, L"getAppDir()"},
        {L"", ERROR_FILE_NOT_FOUND, alone},
        {L"getAppDir()", ERROR_FILE_NOT_FOUND, withContext},
        {L"getAppDir()", kNoMessage, L"getAppDir()"},
        {L"", kNoMessage, L"Unknow error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::wstring(Exception(c.context, c.code).text()), c.expected)
            << "context '" << kyrtest::toUtf8(c.context) << "', code " << c.code;
    }
}

TEST(Exception, RemovesOnlyTheFinalLineFeed) {
    // A message ending in CR LF keeps its CR (Windows' texts do; Wine's may not).
    const std::wstring m = fullSystemMessage(ERROR_ACCESS_DENIED);
    if (m.empty()) {
        GTEST_SKIP() << "this system has no English text for code 5 (no English message files)";
    }
    const std::wstring text = Exception(L"C", ERROR_ACCESS_DENIED).text();
    EXPECT_EQ(text, L"C: " + m.substr(0, m.size() - 1));
    if (m.size() >= 2 && m[m.size() - 2] == L'\r') {
        EXPECT_EQ(text.back(), L'\r');
    }
}

TEST(Exception, CopiesShareTheText) {
    const wchar_t* first = nullptr;
    Exception* copy = nullptr;
    {
        Exception original(L"shared text", 0);
        first = original.text();
        copy = new Exception(original);
        EXPECT_EQ(copy->text(), first);
    }
    // The text outlives the first object while a copy lives.
    EXPECT_STREQ(copy->text(), L"shared text");
    EXPECT_EQ(copy->text(), first);
    delete copy;
}

TEST(Exception, IsNotAStandardException) {
    static_assert(!std::is_base_of<std::exception, Exception>::value, "");
    static_assert(std::is_nothrow_copy_constructible<Exception>::value, "");
    bool caughtAsException = false;
    try {
        throw Exception(L"x", 0);
    } catch (const std::exception&) {
    } catch (const Exception&) {
        caughtAsException = true;
    }
    EXPECT_TRUE(caughtAsException);
}
