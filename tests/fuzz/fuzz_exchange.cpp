// The scanner exchange and its five queries against replies made of any
// bytes: a reply is one line of at most 127 characters without line ends,
// or a failure with its time-out or overflow text; no exchange outlasts
// its deadline by more than one settling read. (A reply that reads as a
// stored text constant is rewritten in place by the first text routine
// that meets it: the checks of content then hold only for plain replies.)
// Input: a flags byte (models, sound), then pairs of (query, record) as
// scripted_scanner.h reads them.
#include <cstring>
#include "expect.h"
#include "scripted_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return -1;
    fuzz::Script script{data + 1, size - 1};
    fuzz::start(&script);
    mon.model_a = data[0] & 1;
    mon.model_b = data[0] >> 1 & 1;
    mon.sound_choice = data[0] >> 2 & 1;
    for (uint8_t op; script.byte(&op);) {
        char reply[256] = "never written";
        int64_t start = ms_now();
        int16_t model_a = mon.model_a, model_b = mon.model_b;
        int32_t r, level = 12345;
        static char unknown[] = "ABC";
        switch (op % 6) {
            case 0: r = query_model(reply); break;
            case 1: r = query_info(reply); break;
            case 2: r = query_level(&level); break;
            case 3: r = query_tuning(reply); break;
            case 4: r = query_signal(reply); break;
            default: r = scanner_query(unknown, reply); break;
        }
        const bool plain = !script.markers;  // no reply so far can read as a text constant
        const bool failure_text = !strcmp(reply, "[timeout]") || !strcmp(reply, "[reply overflows]");
        const size_t n = strlen(reply);
        if (op % 6 == 2) {
            EXPECT(r == 0 || level == 12345);  // a failure leaves the level as it was
        } else if (r != 0 && op % 6 != 4) {
            EXPECT(failure_text);
        } else if (op % 6 == 3) {
            EXPECT(n >= 12 && n <= 127 && (!plain || (!strchr(reply, ',') && !strchr(reply, '\r'))));
        } else if (!failure_text) {  // one line of the scanner's text, kept by a failing signal query
            EXPECT(n <= 127 && (!plain || (!strchr(reply, '\r') && !strchr(reply, '\n'))));
            // The signal reading is taken from the fifth character of a line with its code.
            if (op % 6 == 4 && plain) EXPECT((r == 0) == (strstr(reply, "SIG") && n >= 5));
        }
        if (op % 6 == 0 && r == 0 && plain)
            EXPECT(mon.model_a == !!strstr(reply, "A10") && mon.model_b == !!strstr(reply, "B20"));
        if (op % 6 == 0 && r != 0) EXPECT(mon.model_a == model_a && mon.model_b == model_b);
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
