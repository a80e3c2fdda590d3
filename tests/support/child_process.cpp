#include "child_process.h"

#include "test_support.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace kyrtest {

std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    for (auto it = argument.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != argument.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == argument.end()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted.push_back(*it);
    }
    quoted.push_back(L'"');
    return quoted;
}

std::wstring commandLineOf(const fs::path& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = quoteArgument(program.wstring());
    for (const auto& argument : arguments) {
        line += L' ';
        line += quoteArgument(argument);
    }
    return line;
}

UniqueFileHandle inheritableFile(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    UniqueFileHandle h(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                   disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        throw std::runtime_error("cannot open " + toUtf8(path.wstring()));
    }
    return h;
}

BOOL startProcess(const fs::path& program, std::wstring& commandLine, BOOL inheritHandles,
                  DWORD creationFlags, const fs::path& workDir, STARTUPINFOW& startup,
                  PROCESS_INFORMATION& process) {
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, inheritHandles,
                           creationFlags, nullptr, workDir.c_str(), &startup, &process)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == 5) {
            SetLastError(error);
            return FALSE;
        }
        std::fprintf(stderr, "note: CreateProcessW failed with 1359, trying again\n");
        Sleep(200);
    }
}

Child::Child(const fs::path& program, const std::vector<std::wstring>& arguments,
             const RunOptions& options)
    : options_(options) {
    std::wstring commandLine = commandLineOf(program, arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    UniqueFileHandle in, out, err;
    if (options.captureOutput) {
        static std::atomic<unsigned> counter{0};
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring stem = L"kyr-out-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter++);
        outPath_ = fs::path(temp) / (stem + L".stdout");
        errPath_ = fs::path(temp) / (stem + L".stderr");
        in = inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
        out = inheritableFile(outPath_, GENERIC_WRITE, CREATE_ALWAYS);
        err = inheritableFile(errPath_, GENERIC_WRITE, CREATE_ALWAYS);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in.get();
        si.hStdOutput = out.get();
        si.hStdError = err.get();
    }
    const fs::path workDir = options.workDir.empty() ? program.parent_path() : options.workDir;
    PROCESS_INFORMATION pi{};
    if (!startProcess(program, commandLine, options.captureOutput ? TRUE : FALSE,
                      options.creationFlags | CREATE_UNICODE_ENVIRONMENT, workDir, si, pi)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("CreateProcessW failed for " + toUtf8(program.wstring()) +
                                 " with code " + std::to_string(error));
    }
    const UniqueHandle thread(pi.hThread);
    process_.reset(pi.hProcess);
    pid_ = pi.dwProcessId;
}

Child::~Child() {
    if (process_ && running()) {
        kill();
    }
    std::error_code ec;
    if (!outPath_.empty()) {
        fs::remove(outPath_, ec);
        fs::remove(errPath_, ec);
    }
}

bool Child::wait(DWORD timeoutMs) {
    return WaitForSingleObject(process_.get(), scaledMs(timeoutMs)) == WAIT_OBJECT_0;
}

void Child::kill(UINT exitCode) {
    TerminateProcess(process_.get(), exitCode);
    WaitForSingleObject(process_.get(), scaledMs(10000));
}

RunResult Child::finish() {
    RunResult result;
    if (!wait(options_.timeoutMs)) {
        result.timedOut = true;
        kill();
    }
    GetExitCodeProcess(process_.get(), &result.exitCode);
    if (options_.captureOutput) {
        result.out = readFile(outPath_);
        result.err = readFile(errPath_);
    }
    return result;
}

RunResult run(const fs::path& program, const std::vector<std::wstring>& arguments,
              const RunOptions& options) {
    Child child(program, arguments, options);
    return child.finish();
}

} // namespace kyrtest
