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
};

// Logging with timestamps, to standard error or a file.
void sim_log_open(const SimOptions& o);
void sim_log(const char* direction, const std::string& bytes, const char* note = nullptr);
double sim_seconds();  // since the start
