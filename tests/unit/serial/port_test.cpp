// The port table over the fake's scripted COM devices: what each operation
// asks of the platform, and what it makes of the answers.
#include <gtest/gtest.h>

#include <string>

#include "serial/port.h"
#include "tests/fake/fake_serial.h"

namespace {

using Calls = std::vector<std::string>;

class Port : public ::testing::Test {
protected:
    char buf[400];
    void SetUp() override {
        fake::reset();
        for (auto& p : port_table) p = PortRecord{};
    }
    void TearDown() override {
        for (int i = 1; i < 256; ++i) port_close(i);
    }
    // COM3 opened at 9600 8N1, with the call log cleared.
    fake::SerialDevice& open3() {
        fake::SerialDevice& d = fake::com(3);
        EXPECT_EQ(port_open(3, 9600, 8, 0, 1), 0);
        fake::calls.clear();
        fake::sleeps.clear();
        return d;
    }
    std::string drain() {
        std::string s;
        for (int c; (c = port_getc(3)) >= 0;) s += static_cast<char>(c);
        return s;
    }
};

TEST_F(Port, BadNumbersClosedPortsAndEmptyLengthsAreErrors) {
    for (int port : {0, 256, -1, 5}) {  // 5 is valid but closed
        EXPECT_EQ(port_open(port, 9600, 8, 0, 1), 1);
        EXPECT_EQ(std::vector<int>({port_read(port, buf, 4), port_getc(port), port_write(port, "x", 1),
                                    port_putc(port, 'x'), port_puts(port, "x"), port_set_timeouts(port, 0, 0, 0, 0, 0)}),
                  std::vector<int>(6, -2))
            << port;
        port_close(port);
    }
    // Only the open of COM5 reached the platform (and found no such device).
    EXPECT_EQ(fake::calls, Calls{"CreateFileA"});
    open3();
    EXPECT_EQ(port_read(3, buf, 0), -2);
    EXPECT_EQ(port_write(3, "x", 0), -2);
    EXPECT_EQ(port_write(3, "x", -1), -2);  // never a huge unsigned length
    EXPECT_EQ(fake::count("WriteFile"), 0);
}

// The fake device starts at 1200 baud 7M1.5 with every handshake on. The
// write timeout that opening sets is timed below.
TEST_F(Port, OpeningSetsEightNoneOneWithoutHandshake) {
    fake::SerialDevice& d = fake::com(3);
    ASSERT_EQ(port_open(3, 38400, 8, 0, 1), 0);
    const DCB& s = d.state;
    EXPECT_EQ(std::vector<int>({int(s.BaudRate), s.ByteSize, s.Parity, int(s.fParity), s.StopBits, int(s.fDtrControl),
                                int(s.fRtsControl)}),
              std::vector<int>({38400, 8, NOPARITY, 0, ONESTOPBIT, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE}));
    EXPECT_EQ(s.fOutxCtsFlow | s.fOutxDsrFlow | s.fOutX | s.fInX | s.fNull | s.fAbortOnError, 0u);
    EXPECT_EQ(s.XonLim + s.XoffLim + s.XonChar + s.XoffChar + s.EofChar, 0);
}

TEST_F(Port, ADeviceThatRefusesItsSettingsStillOpensAndCloses) {
    fake::SerialDevice& d = fake::com(3);
    d.timeouts_fail = d.set_state_fails = d.get_state_fails = true;
    EXPECT_EQ(port_open(3, 9600, 8, 0, 1), 0);
    EXPECT_NE(port_table[3].handle, nullptr);
    size_t written = d.states_set.size();
    port_close(3);  // without the present settings there are none to write back
    EXPECT_EQ(d.states_set.size(), written);
    EXPECT_FALSE(d.is_open);
    EXPECT_EQ(port_table[3].handle, nullptr);
}

TEST_F(Port, ReopeningDropsDtrAndRtsClosesAndStartsAfresh) {
    fake::SerialDevice& d = open3();
    d.send("abcdef");
    EXPECT_EQ(port_getc(3), 'a');  // five bytes stay behind in the buffer
    port_putc(3, 'x');
    fake::calls.clear();
    ASSERT_EQ(port_open(3, 19200, 8, 0, 1), 0);
    ASSERT_GE(fake::calls.size(), 4u);
    EXPECT_EQ(Calls(fake::calls.begin(), fake::calls.begin() + 4),
              (Calls{"GetCommState", "SetCommState", "CloseHandle", "CreateFileA"}));
    ASSERT_GE(d.states_set.size(), 3u);
    const DCB& dropped = d.states_set[d.states_set.size() - 2];
    EXPECT_EQ(dropped.fDtrControl, unsigned(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dropped.fRtsControl, unsigned(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dropped.BaudRate, 9600u);  // only the two lines changed
    EXPECT_EQ(d.opens, 2);
    EXPECT_EQ(port_table[3].bytes_in + port_table[3].bytes_out, 0u);
    EXPECT_EQ(port_getc(3), -1);  // the old buffer is gone
}

// Odd codes name a parity; others switch checking on but keep the device's
// parity. The code is read as 16 bits, so 65536 + 3 is 3.
TEST_F(Port, ParityCodesAndStopBitsMapByTheTable) {
    const int cases[][3] = {{0, NOPARITY, 0}, {1, ODDPARITY, 1}, {3, EVENPARITY, 1}, {5, MARKPARITY, 1},
                            {7, SPACEPARITY, 1}, {2, 99, 1}, {4, 99, 1}, {6, 99, 1}, {8, 99, 1}, {-1, 99, 1},
                            {65539, EVENPARITY, 1}};
    for (auto& c : cases) {
        DCB dcb{};
        dcb.Parity = 99;
        port_make_dcb(&dcb, 9600, 7, c[0], 1);
        EXPECT_EQ(std::vector<int>({dcb.Parity, int(dcb.fParity)}), std::vector<int>({c[1], c[2]})) << c[0];
    }
    for (int stop : {0, 1, 2, 3}) {  // one and a half cannot be asked for
        DCB dcb{};
        dcb.StopBits = ONE5STOPBITS;
        port_make_dcb(&dcb, 9600, 8, 0, stop);
        EXPECT_EQ(dcb.StopBits, stop == 1 ? ONESTOPBIT : stop == 2 ? TWOSTOPBITS : ONE5STOPBITS) << stop;
    }
}

TEST_F(Port, AnEmptyQueueCostsNoSleepAndBufferedBytesNoPlatformCall) {
    fake::SerialDevice& d = open3();
    EXPECT_EQ(port_read(3, buf, 8), 0);
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_TRUE(fake::sleeps.empty());
    EXPECT_EQ(fake::count("ReadFile"), 0);

    d.send("h\xffllo");
    EXPECT_EQ(port_getc(3), 'h');
    fake::calls.clear();
    EXPECT_EQ(port_getc(3), 255);  // bytes come back unsigned
    EXPECT_EQ(drain(), "llo");
    EXPECT_EQ(fake::calls, Calls{"ClearCommError"});  // only the call that found the buffer empty
    EXPECT_EQ(port_table[3].bytes_in, 5u);
}

// The settle loop waits in 2 ms steps until two counts agree or 256 bytes
// are there, then takes them in one read.
TEST_F(Port, ATrickleIsHeldByTheSettleLoopUntilItPausesOrFillsTheBuffer) {
    fake::SerialDevice& d = open3();
    for (int i = 0; i < 10; ++i) d.send(std::string(1, char('0' + i)), i);  // a byte a millisecond, then a pause
    int n = port_read(3, buf, 64);
    EXPECT_EQ(std::string(buf, n), "0123456789");
    EXPECT_EQ(fake::count("ReadFile"), 1);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(6, 2));  // counts 1,3,5,7,9,10,10

    d.send(std::string(300, 'q'));
    fake::sleeps.clear();
    EXPECT_EQ(port_read(3, buf, 400), 256);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{2});
    EXPECT_EQ(port_read(3, buf, 400), 44);
    EXPECT_EQ(port_table[3].bytes_in, 310u);

    for (int i = 0; i < 1000; ++i) d.send("t", i * 2);  // one that never pauses
    fake::sleeps.clear();
    EXPECT_EQ(port_read(3, buf, 64), 64);
    EXPECT_LE(fake::sleeps.size(), 257u);
    EXPECT_EQ(port_table[3].rx_end - port_table[3].rx_buf, 256);
}

TEST_F(Port, AFailingDeviceIsAnErrorAndLeavesTheBufferAlone) {
    fake::SerialDevice& d = open3();
    d.send("ab");
    EXPECT_EQ(port_getc(3), 'a');
    d.status_fails = true;
    EXPECT_EQ(port_getc(3), 'b');  // still served from the buffer
    EXPECT_EQ(port_getc(3), -2);
    d.status_fails = false;
    d.read_fails = true;
    d.send("cd");
    EXPECT_EQ(port_getc(3), -2);
    EXPECT_EQ(port_table[3].bytes_in, 2u);
    d.read_fails = false;
    EXPECT_EQ(port_getc(3), 'c');
}

// A device that takes fewer bytes than offered holds the writer for the
// whole write timeout: 1 ms a byte plus 500.
TEST_F(Port, WritesCountWhatTheDeviceTookWithinTheTimeout) {
    fake::SerialDevice& d = open3();
    EXPECT_EQ(port_puts(3, "IDN\r"), 4);
    EXPECT_EQ(port_putc(3, 13), 0);
    EXPECT_EQ(port_write(3, "\0\xff", 2), 2);
    EXPECT_EQ(d.received, std::string("IDN\r\r\0\xff", 7));
    d.write_fails = true;
    EXPECT_EQ(port_write(3, "x", 1), -2);
    d.write_fails = false;
    d.accepts = 0;
    int64_t start = fake::now_ms();
    EXPECT_EQ(port_putc(3, 'x'), -2);
    EXPECT_EQ(fake::now_ms() - start, 501);
    EXPECT_EQ(port_write(3, "x", 1), 0);
    d.accepts = 2;
    EXPECT_EQ(port_write(3, "abcd", 4), 2);
    EXPECT_EQ(port_table[3].bytes_out, 9u);
}

}  // namespace
