#include "run/Progress.h"

#include <algorithm>
#include <chrono>
#include <sstream>

#include "run/FdStream.h"

namespace TEV::Host::Cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(std::ostream& out, std::ostream& err, bool bar, int total_frames, unsigned slots, int columns)
    : out_(out),
      err_(err),
      bar_(bar),
      total_(std::max(1, total_frames)),
      slots_(slots),
      columns_(columns > 0 ? columns : 80),
      frame_of_slot_(new std::atomic<int>[slots]),
      permille_of_slot_(new std::atomic<int>[slots]),
      phase_of_slot_(new int[slots]()) {
    for (unsigned i = 0; i < slots_; ++i) {
        frame_of_slot_[i] = -1;
        permille_of_slot_[i] = 0;
    }
    if (bar_) {
        redraw_ = std::thread([this] { redrawLoop(); });
    }
}

Progress::~Progress() {
    if (redraw_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(stop_mutex_);
            stopping_ = true;
        }
        stop_signal_.notify_all();
        redraw_.join();
        std::lock_guard<std::mutex> lock(output_mutex_);
        clearBar();
    }
}

void Progress::started(unsigned slot, int frame_number) {
    if (slot >= slots_) return;
    permille_of_slot_[slot] = 0;
    phase_of_slot_[slot] = 0;
    frame_of_slot_[slot] = frame_number;
}

void Progress::report(unsigned slot, long current, long total) {
    if (slot >= slots_ || total <= 0) return;
    const long part = std::clamp(current * 1000 / total, 0L, 1000L);
    int& phase = phase_of_slot_[slot];
    if (phase == 1 && total != 100) phase = 2;  // the job reports percent; copies report rows
    const long permille = phase == 0 ? part / 10 : phase == 1 ? 100 + part * 8 / 10 : 900 + part / 10;
    if (phase == 0 && current >= total) phase = 1;
    permille_of_slot_[slot] = static_cast<int>(permille);
}

void Progress::finished(unsigned slot, const std::string& line) {
    if (slot < slots_) frame_of_slot_[slot] = -1;
    ++done_;
    note(line);
}

void Progress::note(const std::string& line) {
    std::lock_guard<std::mutex> lock(output_mutex_);
    clearBar();
    out_ << line << "\n" << std::flush;
    drawBar();
}

void Progress::error(const std::string& line) {
    std::lock_guard<std::mutex> lock(output_mutex_);
    clearBar();
    err_ << line << "\n" << std::flush;
    drawBar();
}

int Progress::outError() {
    std::lock_guard<std::mutex> lock(output_mutex_);
    return writeErrorOf(out_);
}

void Progress::redrawLoop() {
    std::unique_lock<std::mutex> lock(stop_mutex_);
    while (!stop_signal_.wait_for(lock, kRedrawPeriod, [this] { return stopping_; })) {
        std::lock_guard<std::mutex> output_lock(output_mutex_);
        drawBar();
    }
}

void Progress::drawBar() {
    if (!bar_) return;
    // Frames done count whole; a frame in flight counts its latest report.
    double done = done_.load();
    std::ostringstream rendering;
    for (unsigned i = 0; i < slots_; ++i) {
        const int frame = frame_of_slot_[i].load();
        if (frame < 0) continue;
        const int permille = permille_of_slot_[i].load();
        done += permille / 1000.0;
        rendering << "  #" << frame << " " << permille / 10 << "%";
    }
    const double fraction = std::min(1.0, done / total_);
    // The line stays shorter than the terminal: a line that wraps cannot be
    // taken back with a carriage return.
    const int bar_width = std::clamp((columns_ - 30) / 2, 0, kBarWidth);
    const int filled = static_cast<int>(fraction * bar_width);
    std::ostringstream line;
    if (bar_width > 0) line << "[" << std::string(filled, '#') << std::string(bar_width - filled, '.') << "] ";
    line << static_cast<int>(fraction * 100) << "%  " << done_.load() << "/" << total_ << " frames" << rendering.str();
    std::string text = line.str();
    if (static_cast<int>(text.size()) > columns_ - 1) text.resize(static_cast<std::size_t>(std::max(0, columns_ - 1)));
    err_ << "\r\033[K" << text << std::flush;
}

void Progress::clearBar() {
    if (bar_) err_ << "\r\033[K" << std::flush;
}

}  // namespace TEV::Host::Cli
