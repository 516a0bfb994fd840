// The port table over the fake's scripted COM devices: what each operation
// asks of the platform, and what it makes of the answers.
#include <gtest/gtest.h>

#include <string>

#include "serial/port.h"
#include "tests/fake/fake_serial.h"

namespace {

class Port : public ::testing::Test {
protected:
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
    std::string drain(int port) {
        std::string s;
        for (int c; (c = port_getc(port)) >= 0;) s += static_cast<char>(c);
        return s;
    }
};

TEST_F(Port, BadNumbersClosedPortsAndEmptyLengthsAreErrors) {
    char buf[4];
    for (int port : {0, 256, -1, 5}) {  // 5 is valid but closed
        EXPECT_EQ(port_open(port, 9600, 8, 0, 1), 1);
        EXPECT_EQ(port_read(port, buf, 4), -2);
        EXPECT_EQ(port_getc(port), -2);
        EXPECT_EQ(port_write(port, "x", 1), -2);
        EXPECT_EQ(port_putc(port, 'x'), -2);
        EXPECT_EQ(port_puts(port, "x"), -2);
        EXPECT_EQ(port_set_timeouts(port, 0, 0, 0, 0, 0), -2);
        port_close(port);
    }
    // Only the open of COM5 reached the platform (and found no such device).
    EXPECT_EQ(fake::calls, std::vector<std::string>{"CreateFileA"});
    EXPECT_EQ(port_table[5].handle, nullptr);
    open3();
    EXPECT_EQ(port_read(3, buf, 0), -2);
    EXPECT_EQ(port_write(3, "x", 0), -2);
    EXPECT_EQ(port_write(3, "x", -1), -2);  // never a huge unsigned length
    EXPECT_EQ(fake::count("WriteFile"), 0);
}

TEST_F(Port, OpeningSetsTimeoutsAndEightNoneOneWithoutHandshake) {
    fake::SerialDevice& d = fake::com(3);
    ASSERT_EQ(port_open(3, 38400, 8, 0, 1), 0);
    EXPECT_EQ(fake::calls, (std::vector<std::string>{"CreateFileA", "SetCommTimeouts", "GetCommState", "SetCommState"}));
    const COMMTIMEOUTS& t = d.timeouts;
    EXPECT_EQ(std::vector<DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({MAXDWORD, 0, 0, 1, 500}));
    // The fake device reports 1200 baud 7M1.5 with every handshake on.
    const DCB& s = d.state;
    EXPECT_EQ(s.DCBlength, 28u);
    EXPECT_EQ(std::vector<int>({int(s.BaudRate), s.ByteSize, s.Parity, int(s.fParity), s.StopBits}),
              std::vector<int>({38400, 8, NOPARITY, 0, ONESTOPBIT}));
    EXPECT_EQ(s.fOutxCtsFlow | s.fOutxDsrFlow | s.fOutX | s.fInX | s.fNull | s.fAbortOnError, 0u);
    EXPECT_EQ(s.fDtrControl, unsigned(DTR_CONTROL_ENABLE));
    EXPECT_EQ(s.fRtsControl, unsigned(RTS_CONTROL_ENABLE));
    EXPECT_EQ(s.fTXContinueOnXoff, 1u);
    EXPECT_EQ(s.XonLim + s.XoffLim + s.XonChar + s.XoffChar + s.EofChar, 0);
}

TEST_F(Port, RefusedTimeoutsOrSettingsStillCountAsOpened) {
    fake::SerialDevice& d = fake::com(3);
    d.timeouts_fail = true;
    d.set_state_fails = true;
    d.get_state_fails = true;
    EXPECT_EQ(port_open(3, 9600, 8, 0, 1), 0);
    EXPECT_NE(port_table[3].handle, nullptr);
}

TEST_F(Port, ReopeningDropsDtrAndRtsClosesAndStartsAfresh) {
    fake::SerialDevice& d = open3();
    d.send("abcdef");
    EXPECT_EQ(port_getc(3), 'a');  // five bytes stay behind in the buffer
    port_putc(3, 'x');
    fake::calls.clear();
    ASSERT_EQ(port_open(3, 19200, 8, 0, 1), 0);
    ASSERT_GE(fake::calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(fake::calls.begin(), fake::calls.begin() + 4),
              (std::vector<std::string>{"GetCommState", "SetCommState", "CloseHandle", "CreateFileA"}));
    ASSERT_GE(d.states_set.size(), 3u);
    const DCB& dropped = d.states_set[d.states_set.size() - 2];
    EXPECT_EQ(dropped.fDtrControl, unsigned(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dropped.fRtsControl, unsigned(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dropped.BaudRate, 9600u);  // only the two lines changed
    EXPECT_EQ(d.opens, 2);
    EXPECT_EQ(port_table[3].bytes_in, 0u);
    EXPECT_EQ(port_table[3].bytes_out, 0u);
    EXPECT_EQ(port_getc(3), -1);  // the old buffer is gone
}

TEST_F(Port, ClosingWithoutReadableSettingsStillClosesButWritesNothingBack) {
    fake::SerialDevice& d = open3();
    d.get_state_fails = true;
    size_t before = d.states_set.size();
    port_close(3);
    EXPECT_EQ(d.states_set.size(), before);
    EXPECT_FALSE(d.is_open);
    EXPECT_EQ(port_table[3].handle, nullptr);
}

TEST_F(Port, ParityCodesAndStopBitsMapByTheTable) {
    struct Case {
        int code;
        BYTE parity;
    } cases[] = {{0, NOPARITY}, {1, ODDPARITY}, {3, EVENPARITY}, {5, MARKPARITY}, {7, SPACEPARITY}};
    for (auto c : cases) {
        DCB dcb{};
        dcb.Parity = 99;
        port_make_dcb(&dcb, 9600, 7, c.code, 1);
        EXPECT_EQ(dcb.Parity, c.parity) << c.code;
        EXPECT_EQ(dcb.fParity, c.code ? 1u : 0u) << c.code;
    }
    // Codes that name no parity keep the device's, with checking on; the
    // code is read as 16 bits, so 65536 + 3 is 3.
    for (int code : {2, 4, 6, 8, -1, 65539}) {
        DCB dcb{};
        dcb.Parity = MARKPARITY;
        port_make_dcb(&dcb, 9600, 8, code, 1);
        EXPECT_EQ(dcb.Parity, code == 65539 ? EVENPARITY : MARKPARITY) << code;
        EXPECT_EQ(dcb.fParity, 1u) << code;
    }
    for (int stop : {0, 1, 2, 3}) {
        DCB dcb{};
        dcb.StopBits = ONE5STOPBITS;
        port_make_dcb(&dcb, 9600, 8, 0, stop);
        BYTE want = stop == 1 ? ONESTOPBIT : stop == 2 ? TWOSTOPBITS : ONE5STOPBITS;
        EXPECT_EQ(dcb.StopBits, want) << stop;
    }
}

TEST_F(Port, AnEmptyQueueCostsNoSleep) {
    open3();
    char buf[8];
    EXPECT_EQ(port_read(3, buf, 8), 0);
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_TRUE(fake::sleeps.empty());
    EXPECT_EQ(fake::count("ReadFile"), 0);
}

TEST_F(Port, BufferedBytesAreServedWithoutPlatformCalls) {
    fake::SerialDevice& d = open3();
    d.send("h\xffllo");
    EXPECT_EQ(port_getc(3), 'h');
    fake::calls.clear();
    EXPECT_EQ(port_getc(3), 255);  // bytes come back unsigned
    EXPECT_EQ(drain(3), "llo");
    // The four in the buffer cost nothing; the fifth call asked the device.
    EXPECT_EQ(fake::calls, std::vector<std::string>{"ClearCommError"});
    EXPECT_EQ(port_table[3].bytes_in, 5u);
}

TEST_F(Port, AFullBufferStopsTheSettleLoopAndTheRestComesLater) {
    fake::SerialDevice& d = open3();
    d.send(std::string(300, 'q'));
    char buf[400];
    EXPECT_EQ(port_read(3, buf, 400), 256);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{2});
    EXPECT_EQ(fake::count("ReadFile"), 1);
    EXPECT_EQ(port_read(3, buf, 400), 44);
    EXPECT_EQ(port_table[3].bytes_in, 300u);
}

TEST_F(Port, ATrickleIsHeldUntilTwoCountsAgreeThenReadInOne) {
    fake::SerialDevice& d = open3();
    // One byte a millisecond for 10 ms, then a pause.
    for (int i = 0; i < 10; ++i) d.send(std::string(1, char('0' + i)), i);
    char buf[64];
    int n = port_read(3, buf, 64);
    EXPECT_EQ(std::string(buf, n), "0123456789");
    EXPECT_EQ(fake::count("ReadFile"), 1);
    // Counts 1,3,5,7,9,10,10: six steps of 2 ms.
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(6, 2));

    // A trickle that never pauses is cut at a full buffer.
    for (int i = 0; i < 1000; ++i) d.send("t", i * 2);
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

TEST_F(Port, WritesCountWhatTheDeviceTook) {
    fake::SerialDevice& d = open3();
    EXPECT_EQ(port_puts(3, "IDN\r"), 4);
    EXPECT_EQ(port_putc(3, 13), 0);
    EXPECT_EQ(port_write(3, "\0\xff", 2), 2);
    EXPECT_EQ(d.received, std::string("IDN\r\r\0\xff", 7));
    EXPECT_EQ(port_table[3].bytes_out, 7u);
    d.write_fails = true;
    EXPECT_EQ(port_write(3, "x", 1), -2);
    EXPECT_EQ(port_putc(3, 'x'), -2);
    EXPECT_EQ(port_table[3].bytes_out, 7u);
}

TEST_F(Port, ADeviceThatTakesNothingCostsTheWriteTimeout) {
    fake::SerialDevice& d = open3();
    d.accepts = 0;
    int64_t start = fake::now_ms();
    EXPECT_EQ(port_putc(3, 'x'), -2);
    EXPECT_EQ(fake::now_ms() - start, 501);
    EXPECT_EQ(port_write(3, "x", 1), 0);
    d.accepts = 2;
    EXPECT_EQ(port_write(3, "abcd", 4), 2);
    EXPECT_EQ(port_table[3].bytes_out, 2u);
}

}  // namespace
