// spdlog_log: one rotating-file log line per call.
#include "Logging.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>

#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include "RestClient.h"

namespace {

constexpr const char* kLinePattern = "%Y-%m-%d %H:%M:%S %v";

// Concurrent renders log at the same moment; taking turns keeps every line
// and lets only one call at a time decide on and perform a rotation.
std::mutex& logTurn() {
    static std::mutex turn;
    return turn;
}

// Every render user of a node appends to the same log, and any of them may
// replace its entries: the file is made (or kept) group-writable before the
// library opens it by name, and what it opened must still be that file.
spdlog::file_event_handlers sharedLogHandlers() {
    spdlog::file_event_handlers handlers;
    handlers.before_open = [](const spdlog::filename_t& path) {
        std::error_code ignored;  // a folder that can't be made fails the open below
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        const int fd = TEV::OpenSharedLogFile(path);
        if (fd < 0) spdlog::throw_spdlog_ex("Failed opening file " + path + " for writing", errno);
        ::close(fd);
    };
    handlers.after_open = [](const spdlog::filename_t& path, std::FILE* file) {
        if (!TEV::IsSharedLogFile(::fileno(file), path)) {
            spdlog::throw_spdlog_ex("Failed opening file " + path + " for writing: it was replaced while opening");
        }
    };
    return handlers;
}

// Opens, appends one line, closes. Returns the logging library's error text,
// or "" on success.
std::string appendLine(const std::string& message, const std::string& log_file) {
    std::string failure;
    std::lock_guard<std::mutex> turn(logTurn());
    // The logger is never registered with the library, so no name can be
    // taken by another call and no other logger is dropped.
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(log_file, kLogMaxFileSize,
                                                                       kLogMaxFiles, false,
                                                                       sharedLogHandlers());
    spdlog::logger logger("basic_logger", std::move(sink));
    logger.set_pattern(kLinePattern, spdlog::pattern_time_type::local);
    logger.set_level(spdlog::level::info);
    // Write and rotation errors are caught inside the logger; collect them.
    logger.set_error_handler([&failure](const std::string& what) { failure = what; });
    logger.log(spdlog::level::info, spdlog::string_view_t(message.data(), message.size()));
    return failure;  // the file closes with the logger
}

}  // namespace

void spdlog_log(std::string message, std::string log_file) {
    std::cout << message;
    std::string failure;
    try {
        failure = appendLine(message, log_file);
    } catch (const spdlog::spdlog_ex& e) {
        failure = e.what();
    }
    if (!failure.empty()) std::cout << "Log failed: " << failure << "\n";
}

void spdlog_log(std::stringstream message, std::string log_file) {
    spdlog_log(message.str(), std::move(log_file));
}

void OutputDebugString(const char* text) { std::cout << (text ? text : ""); }

void OutputDebugString(const std::string& text) { std::cout << text; }

bool IsDebug() { return false; }
