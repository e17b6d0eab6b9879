// Prints what the game data costs to make: the wall time of a whole run of
// the content builder into a fresh folder (started as its own program, as
// the build starts it), the time of the championship's maps alone made in
// this program, and the size of the data the builder wrote, in all and by
// folder. Each time is the minimum and the median of several runs.
//   ContentBench [runs]
// Needs the builder beside the benchmarks ("Tools\KorvantaBuilder.exe" in
// the build folder).
#include "BenchFigures.h"

#include "MapGenerator.h"

#include "Core/FileInterface.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::wstring temporaryFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// The bytes and files under folder, sub-folders included.
void measure(const std::wstring& folder, uint64_t& bytes, uint32_t& files)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            measure(folder + name + L"\\", bytes, files);
        } else {
            bytes += uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
            ++files;
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// One run of the builder into folder; its wall time, or a negative time
// when it failed.
double runBuilder(const std::wstring& builder, const std::wstring& folder)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // The folder without its last backslash, which would escape the quote.
    const std::wstring argument = folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder;
    std::wstring commandLine = L"\"" + builder + L"\" \"" + argument + L"\"";
    const auto start = std::chrono::steady_clock::now();
    if (!CreateProcessW(builder.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1.0;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const double taken = seconds(start);
    return code == 0 ? taken : -1.0;
}

}

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::wstring builder = std::wstring(getModuleFolder().text()) + L"..\\KorvantaBuilder.exe";
    const std::wstring folder = temporaryFolder(L"ContentBench");

    bool failed = false;
    const BenchFigures::Spread whole = BenchFigures::repeat(runs, [&] {
        const double taken = runBuilder(builder, folder);
        failed = failed || taken < 0.0;
        return taken;
    });
    if (failed) {
        std::printf("ContentBench: the builder failed (%ls)\n", builder.c_str());
        return 1;
    }
    BenchFigures::print("whole builder run (goal about 120 s)", whole, 1.0, "s");

    const BenchFigures::Spread championship = BenchFigures::repeat(runs, [&] {
        const auto start = std::chrono::steady_clock::now();
        if (!MapGenerator::saveChampionship(String(folder.c_str())))
            failed = true;
        return seconds(start);
    });
    BenchFigures::print("the championship's 39 maps in process", championship, 1.0, "s");

    uint64_t total = 0;
    uint32_t totalFiles = 0;
    for (const wchar_t* part : {L"Data\\Map\\", L"Data\\Mesh\\", L"Data\\Menu\\", L"Data\\Resource\\",
                                L"Data\\Sound\\", L"Data\\Tree\\", L"Objects\\"}) {
        uint64_t bytes = 0;
        uint32_t files = 0;
        measure(folder + part, bytes, files);
        std::printf("%-52s %9.2f MB in %u files\n", (std::string("data in ") +
                                                      std::string(part, part + wcslen(part))).c_str(),
                    double(bytes) / 1048576.0, files);
        total += bytes;
        totalFiles += files;
    }
    std::printf("%-52s %9.2f MB in %u files (goal under 60 MB)\n", "all game data", double(total) / 1048576.0,
                totalFiles);
    return failed ? 1 : 0;
}
