// What the benchmarks share: their input files, generated once with
// talmera-jetwriter and kept in the system temp folder, and the plain read of
// a file, which is the physical limit on this machine.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace talmera::bench {

// A row count from an environment variable, or the default.
inline size_t rowsFromEnvironment(const char* variable, size_t fallback) {
    const char* text = std::getenv(variable);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const unsigned long long rows = std::strtoull(text, &end, 10);
    if (*end != '\0' || rows == 0) throw std::invalid_argument(std::string(variable) + " must be a positive number");
    return static_cast<size_t>(rows);
}

// The file `talmera-jetwriter SUBCOMMAND --format FORMAT --rows ROWS` writes,
// kept as talmera-SUBCOMMAND-FORMAT-ROWS.mdb in the temp folder and written
// only when missing (delete it after changing the writer's tables).
// `variant` names further `options` of the writer (such as encryption) in the
// file's name: talmera-SUBCOMMAND-FORMAT-ROWS-VARIANT.mdb.
inline std::string generatedFile(const std::string& subcommand, const std::string& format, size_t rows,
                                 const std::string& variant = "", const std::string& options = "") {
    const std::string count = std::to_string(rows);
    const std::string file =
        (std::filesystem::temp_directory_path() /
         ("talmera-" + subcommand + "-" + format + "-" + count + (variant.empty() ? "" : "-" + variant) + ".mdb"))
            .string();
    if (!std::filesystem::exists(file)) {
        const std::string command = std::string(TALMERA_JETWRITER) + " " + subcommand + " --format " + format +
                                    " --rows " + count + " " + options + " '" + file + ".part' >/dev/null && mv '" +
                                    file + ".part' '" + file + "'";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot generate " + file);
    }
    return file;
}

// What one command run by runCommand cost: its exit status and the peak
// resident memory of the largest process it ran (the kernel's ru_maxrss).
struct CommandRun {
    int status = -1;  // the shell's exit status; -1 when it did not end normally
    double peakRssMiB = 0;
};

// Runs `command` with /bin/sh and waits for it. Write "exec PROGRAM ..." for
// one program, so that its own peak is the one measured.
inline CommandRun runCommand(const std::string& command) {
    CommandRun run;
    const pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakRssMiB = static_cast<double>(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
    return run;
}

// Reads the whole file in 1 MiB chunks; returns the bytes read.
inline uint64_t readWholeFile(const std::string& path, std::vector<char>& buffer) {
    buffer.resize(1 << 20);
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    uint64_t total = 0;
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
    close(fd);
    return total;
}

// The body of a plain-read benchmark of one file.
inline void readWholeFileBenchmark(benchmark::State& state, const std::string& path) {
    std::vector<char> buffer;
    uint64_t total = 0;
    for (auto _ : state) total += readWholeFile(path, buffer);
    state.SetBytesProcessed(static_cast<int64_t>(total));
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

}  // namespace talmera::bench
