// rxmon-sim: one scanner of the monitor's command set on a pseudo-terminal
// or a serial device. The options, the scanner's answers and the line it
// answers on, each in its own file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum class Course { Fixed, Sweep, Walk };

struct SimOptions {
    std::string device;     // empty: create a pseudo-terminal
    std::string path_file;  // where to write the slave's path
    std::string link;       // a symbolic link to make to the slave
    int baud = 9600;
    char model = 'A';  // A, B, or X: a model the monitor does not know
    int level = -1;    // -1: the model's own default
    int tuning = 100;
    bool tuning_drift = false;  // the reading swings slowly around `tuning`
    long long frequency = 1462500;  // units of 100 Hz
    std::string firmware = "Firmware 2.07";
    Course course = Course::Sweep;
    int signal_low = 0, signal_high = 1023, signal_step = 8;
    unsigned seed = 1;
    int delay_ms = 0;
    bool crlf = false;
    int drop_every = 0, garble_every = 0, overlong_every = 0, info_differ_every = 0;
    double switch_model_after = -1;  // seconds
    double silent_after = -1, silent_for = 0;
    int rate_after_silence = 0;
    double random_faults_mean = 0;  // seconds between random fault episodes; 0: none
    unsigned random_faults_seed = 1;
    double unplug_after = -1;  // seconds
    bool flood = false;        // send replies without pause, unasked
    bool log = false;
    std::string log_file;
};

// Parses the command line; prints help or an error and exits where needed.
SimOptions sim_parse(int argc, char** argv);
bool sim_rate_known(int baud);

// The scanner's side of the exchange: an answer for each command line, or
// none. `now` is seconds since the start, for the timed faults.
struct SimScanner {
    explicit SimScanner(const SimOptions& o);
    // False when the command goes unanswered; else the reply, line end included.
    bool answer(const std::string& command, double now, std::string* reply);
    // Silent, and from when on at which rate.
    bool silent(double now) const;
    int rate(double now) const;

    const SimOptions& opt;
    int commands = 0, infos = 0;
    int signal = 0, sweep_dir = 1;
    unsigned random_state;

    // Random faults: one episode at a time, each followed by a wait until the
    // monitor has read a whole pass again (its signal query answered), then
    // a random pause before the next. `tick` starts and ends timed episodes.
    enum class Fault { None, Silent, RateChange, Garble, Overlong, InfoDiffer, SwapModel, LineFeeds, Drop };
    void tick(double now);
    void start_fault(double now);
    void end_fault(double now);
    unsigned random_below(unsigned n);
    char model;   // the model answered as now
    int baud;     // the rate answered at now
    Fault fault = Fault::None;
    int fault_left = 0;         // replies or commands the episode still affects
    double fault_until = 0;     // end of a silence
    double fault_ended = 0;
    double next_fault = -1;     // -1: waiting for the monitor to find us (again)
    int faults = 0, recoveries = 0;
    unsigned fault_random;
};

// Logging with timestamps, to standard error or a file.
void sim_log_open(const SimOptions& o);
void sim_log(const char* direction, const std::string& bytes, const char* note = nullptr);
double sim_seconds();  // since the start
