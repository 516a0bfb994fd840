// The port table over the fake's scripted COM devices: what each operation
// asks of the platform, and what it makes of the answers.
#include <gtest/gtest.h>

#include <string>

#include "runtime/txt.h"
#include "serial/port.h"
#include "tests/fake/fake_serial.h"

namespace {

using Calls = std::vector<std::string>;

class Port : public ::testing::Test {
protected:
    char buf[400];
    fake::SerialDevice* d = nullptr;
    void SetUp() override {
        fake::reset();
        for (auto& p : port_table) p = PortRecord{};
        d = &fake::com(3);
    }
    void TearDown() override { port_close(3); }
    // COM3 opened at 9600 8N1, with the call log cleared.
    void open3() {
        ASSERT_EQ(port_open(3, 9600, 8, 0, 1), 0);
        fake::calls.clear();
        fake::sleeps.clear();
    }
};

TEST_F(Port, BadNumbersClosedPortsAndEmptyLengthsAreErrors) {
    for (int port : {0, 256, -1, 5}) {  // 5 is valid but closed
        EXPECT_EQ(port_open(port, 9600, 8, 0, 1), 1);
        EXPECT_EQ(std::vector<int>({port_read(port, buf, 4), port_getc(port), port_write(port, "x", 1),
                                    port_putc(port, 'x'), port_puts(port, "x"), port_set_timeouts(port, 0, 0, 0, 0, 0)}),
                  std::vector<int>(6, -2))
            << port;
    }
    EXPECT_EQ(fake::calls, Calls{"CreateFileA"});  // only the open of COM5 reached the platform
    open3();
    EXPECT_EQ(std::vector<int>({port_read(3, buf, 0), port_write(3, "x", 0), port_write(3, "x", -1)}),
              std::vector<int>(3, -2));
    EXPECT_TRUE(fake::calls.empty());
}

// The device starts at 1200 baud 7M1.5 with every handshake on.
TEST_F(Port, OpeningSetsEightNoneOneWithoutHandshakeAndClosingDropsDtrAndRts) {
    ASSERT_EQ(port_open(3, 38400, 8, 0, 1), 0);
    const DCB& s = d->state;
    EXPECT_EQ(std::vector<int>({int(s.BaudRate), s.ByteSize, s.Parity, int(s.fParity), s.StopBits, int(s.fDtrControl),
                                int(s.fRtsControl)}),
              std::vector<int>({38400, 8, NOPARITY, 0, ONESTOPBIT, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE}));
    EXPECT_EQ(s.fOutxCtsFlow | s.fOutX | s.fInX | s.fNull | s.fAbortOnError | s.XonChar, 0u);
    d->send("abcdef");
    EXPECT_EQ(port_getc(3), 'a');  // five bytes stay behind in the buffer
    fake::calls.clear();
    ASSERT_EQ(port_open(3, 19200, 8, 0, 1), 0);  // a reopen closes first
    EXPECT_EQ(Calls(fake::calls.begin(), fake::calls.begin() + 4),
              (Calls{"GetCommState", "SetCommState", "CloseHandle", "CreateFileA"}));
    EXPECT_EQ(port_table[3].bytes_in + port_table[3].bytes_out, 0u);
    EXPECT_EQ(port_getc(3), -1);  // the old buffer is gone
    port_close(3);
    EXPECT_EQ(std::vector<int>({int(s.BaudRate), int(s.fDtrControl), int(s.fRtsControl)}),
              std::vector<int>({19200, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE}));
    EXPECT_FALSE(d->is_open);

    d->settings_fail = true;  // still opens; without the settings there are none to write back
    EXPECT_EQ(port_open(3, 9600, 8, 0, 1), 0);
    int sets = fake::count("SetCommState");
    port_close(3);
    EXPECT_EQ(fake::count("SetCommState"), sets);
    EXPECT_EQ(port_table[3].handle, nullptr);
}

// Odd codes name a parity; others switch checking on but keep the device's
// parity. The code is read as 16 bits, so 65536 + 3 is 3.
TEST_F(Port, ParityCodesAndStopBitsMapByTheTable) {
    const int cases[][3] = {{0, NOPARITY, 0}, {1, ODDPARITY, 1}, {3, EVENPARITY, 1}, {5, MARKPARITY, 1},
                            {7, SPACEPARITY, 1}, {2, 99, 1}, {8, 99, 1}, {-1, 99, 1}, {65539, EVENPARITY, 1}};
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

TEST_F(Port, AnEmptyQueueCostsNoSleepAndOnlyTheSixthGetcAsksTheDevice) {
    open3();
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_EQ(fake::calls, Calls{"ClearCommError"});
    d->send("h\xffllo");
    EXPECT_EQ(port_getc(3), 'h');
    fake::calls.clear();
    EXPECT_EQ(port_getc(3), 255);  // bytes come back unsigned
    for (char c : std::string("llo")) EXPECT_EQ(port_getc(3), c);
    EXPECT_TRUE(fake::calls.empty());
    EXPECT_EQ(port_getc(3), -1);
    EXPECT_EQ(fake::calls, Calls{"ClearCommError"});
    EXPECT_EQ(port_table[3].bytes_in, 5u);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(1, 2));  // the one settling step of the burst
}

// The settle loop waits in 2 ms steps until two counts agree or 256 bytes
// are there, then takes them in one read.
TEST_F(Port, ATrickleIsHeldByTheSettleLoopUntilItPausesOrFillsTheBuffer) {
    open3();
    for (int i = 0; i < 10; ++i) d->send(std::string(1, char('0' + i)), i);  // a byte a millisecond, then a pause
    int n = port_read(3, buf, 64);
    EXPECT_EQ(std::string(buf, n), "0123456789");
    EXPECT_EQ(fake::count("ReadFile"), 1);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>(6, 2));  // counts 1,3,5,7,9,10,10

    d->send(std::string(300, 'q'));
    fake::sleeps.clear();
    EXPECT_EQ(port_read(3, buf, 400), 256);
    EXPECT_EQ(fake::sleeps, std::vector<DWORD>{2});
    EXPECT_EQ(port_read(3, buf, 400), 44);
    EXPECT_EQ(port_table[3].bytes_in, 310u);

    for (int i = 0; i < 1000; ++i) d->send("t", i * 2);  // one that never pauses
    EXPECT_EQ(port_read(3, buf, 64), 64);
    EXPECT_EQ(port_table[3].rx_end - port_table[3].rx_buf, 256);
}

TEST_F(Port, AFailingDeviceIsAnErrorAndLeavesTheBufferAlone) {
    open3();
    d->send("ab");
    EXPECT_EQ(port_getc(3), 'a');
    d->status_fails = true;
    EXPECT_EQ(port_getc(3), 'b');  // still served from the buffer
    EXPECT_EQ(port_getc(3), -2);
    d->status_fails = false, d->read_fails = true;
    d->send("cd");
    EXPECT_EQ(port_getc(3), -2);
    d->read_fails = false;
    EXPECT_EQ(port_getc(3), 'c');
    EXPECT_EQ(port_table[3].bytes_in, 4u);
}

// A device that takes fewer bytes than offered holds the writer for the
// whole write timeout: 1 ms a byte plus 500.
TEST_F(Port, WritesCountWhatTheDeviceTookWithinTheTimeout) {
    open3();
    EXPECT_EQ(port_puts(3, T("IDN\r")), 4);
    EXPECT_EQ(port_putc(3, 13), 0);
    EXPECT_EQ(port_write(3, "\0\xff", 2), 2);
    EXPECT_EQ(d->received, std::string("IDN\r\r\0\xff", 7));
    d->write_fails = true;
    EXPECT_EQ(port_write(3, "x", 1), -2);
    d->write_fails = false, d->accepts = 0;
    int64_t start = fake::now_ms();
    EXPECT_EQ(port_putc(3, 'x'), -2);
    EXPECT_EQ(fake::now_ms() - start, 501);
    d->accepts = 2;
    EXPECT_EQ(port_write(3, "abcd", 4), 2);
    EXPECT_EQ(port_table[3].bytes_out, 9u);
}

}  // namespace
