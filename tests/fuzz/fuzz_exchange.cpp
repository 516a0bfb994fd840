// The scanner exchange and its five queries against replies made of any
// bytes: a reply is one line of at most 127 characters without line ends,
// or a failure with its time-out or overflow text; no exchange outlasts
// its deadline by more than one settling read; the reshaped tuning reply
// and the scaled level keep their forms. (A reply that reads as a stored
// text constant is rewritten by the first text routine that meets it, as
// the program's own texts are: the checks of content then hold only for
// the queries that hand the reply back untouched.)
//
// Input: a flags byte (models, sound), then pairs of (query, record) as
// scripted_scanner.h reads them.
#include <cstdlib>
#include <cstring>

#include "expect.h"
#include "scripted_scanner.h"

namespace {

const fuzz::Script* script_now;
// No reply of this input so far can read as a text constant.
bool plain() { return !script_now->markers; }

// A reply handed back as a success is one line of the scanner's text.
void expect_line(const char* reply) {
    size_t n = strlen(reply);
    EXPECT(n <= 127);
    if (plain()) EXPECT(strchr(reply, '\r') == nullptr && strchr(reply, '\n') == nullptr);
}

void expect_failure_text(const char* reply) {
    EXPECT(strcmp(reply, "[timeout]") == 0 || strcmp(reply, "[reply overflows]") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    fuzz::Script script{data + 1, size - 1};
    fuzz::start(&script);
    script_now = &script;
    mon.model_a = data[0] & 1;
    mon.model_b = data[0] >> 1 & 1;
    mon.sound_choice = data[0] >> 2 & 1;

    uint8_t op;
    while (script.byte(&op)) {
        char reply[256];
        memset(reply, 0x55, sizeof reply);
        int64_t start = ms_now();
        int16_t model_a = mon.model_a, model_b = mon.model_b;
        int32_t r;
        bool kept = false;  // a failure that keeps the reply it got
        switch (op % 6) {
            case 0:
                r = query_model(reply);
                if (r == 0) {
                    expect_line(reply);
                    if (plain()) EXPECT(mon.model_a == (strstr(reply, "A10") != nullptr));
                    if (plain()) EXPECT(mon.model_b == (strstr(reply, "B20") != nullptr));
                } else {
                    EXPECT(mon.model_a == model_a && mon.model_b == model_b);  // a failure changes no model
                }
                break;
            case 1:
                r = query_info(reply);
                if (r == 0) expect_line(reply);
                break;
            case 2: {
                int32_t level = 12345;
                r = query_level(&level);
                if (r == 0 && mon.model_a) EXPECT(level % 2 == 0 || level == INT32_MAX);
                if (r == 0 && !mon.model_a && mon.model_b) EXPECT(level >= -1343489281 && level <= 1343489281);
                if (r == 0 && !mon.model_a && !mon.model_b) EXPECT(level == 0);
                if (r != 0) EXPECT(level == 12345);
                kept = true;  // its reply is its own, not handed out
                break;
            }
            case 3:
                r = query_tuning(reply);
                if (r == 0) {
                    EXPECT(strlen(reply) >= 12 && strlen(reply) <= 127);
                    if (plain()) EXPECT(strchr(reply, ',') == nullptr && strchr(reply, '\r') == nullptr);
                }
                break;
            case 4:
                r = query_signal(reply);
                if (r == 0) expect_line(reply), EXPECT(!plain() || (strstr(reply, "SIG") && strlen(reply) >= 5));
                // A line without the code, or too short to hold a number,
                // fails with the line kept.
                kept = r != 0 && strcmp(reply, "[timeout]") != 0 && strcmp(reply, "[reply overflows]") != 0;
                if (kept) expect_line(reply), EXPECT(!plain() || !strstr(reply, "SIG") || strlen(reply) < 5);
                break;
            default: {
                static char unknown[] = "ABC";
                r = scanner_query(unknown, reply);
                if (r == 0) expect_line(reply);
                break;
            }
        }
        if (r != 0 && !kept) expect_failure_text(reply);
        // The fixed deadline, plus what the read that straddles it and the
        // draining of late bytes may take on a line that keeps trickling.
        EXPECT(ms_now() - start <= 2600);
        // The command went out whole: three characters and a carriage return.
        const std::string& sent = fake::com(3).received;
        EXPECT(sent.size() >= 4 && sent.back() == '\r');
    }
    fuzz::stop();
    return 0;
}
