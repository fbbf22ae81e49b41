// Progress of a render on the terminal: a bar on stderr, redrawn ten times a
// second, fed by the plug-in's progress reports and by frames done; the
// per-frame lines go to `out` above the bar. Without a bar the frame lines
// alone show the progress, one as each frame finishes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace TEV::Host::Cli {

class Progress {
public:
    // `slots`: frames that may be in flight at once (render threads).
    // `columns`: the terminal's width, which the bar never reaches (0: unknown, 80).
    Progress(std::ostream& out, std::ostream& err, bool bar, int total_frames, unsigned slots, int columns = 0);
    // Stops the redrawing and clears the bar.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The slot's frame starts (number shown in the bar) / reports current of
    // total. Both come from the thread that renders the slot's frame.
    //
    // A frame's reports come in three runs: the copy of the input (total: the
    // frame's height), the server's job (total 100) and the copy of the
    // result (the height again). They count 10 %, 80 % and 10 % of the frame,
    // so that the bar does not stand at 100 % while the server works.
    void started(unsigned slot, int frame_number);
    void report(unsigned slot, long current, long total);
    // The slot's frame is over: prints `line` (a line feed is added) and counts it.
    void finished(unsigned slot, const std::string& line);
    // Prints a line that is not a frame's, above the bar: to `out` / to `err`.
    void note(const std::string& line);
    void error(const std::string& line);
    // The errno of a failed write to `out` (writeErrorOf), read under the lock
    // that the writes hold; 0 while none failed.
    int outError();

private:
    void redrawLoop();
    void drawBar();    // holds output_mutex_
    void clearBar();   // holds output_mutex_

    std::ostream& out_;
    std::ostream& err_;
    const bool bar_;
    const int total_;
    const unsigned slots_;
    const int columns_;
    std::unique_ptr<std::atomic<int>[]> frame_of_slot_;  // -1: idle
    std::unique_ptr<std::atomic<int>[]> permille_of_slot_;
    std::unique_ptr<int[]> phase_of_slot_;  // 0 input copy, 1 job, 2 result copy
    std::atomic<int> done_{0};

    std::mutex output_mutex_;
    std::mutex stop_mutex_;
    std::condition_variable stop_signal_;
    bool stopping_ = false;
    std::thread redraw_;
};

}  // namespace TEV::Host::Cli
