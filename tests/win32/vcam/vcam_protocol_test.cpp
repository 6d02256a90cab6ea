// Device paths, command packets and replies of the virtual camera, through the raw pipes.
#include <cstring>

#include "vcam_test_util.h"

using namespace vcamtest;

namespace {

class Protocol : public VcamTest {};

TEST_F(Protocol, CameraZeroOpensAndAttachedCamerasAppearAndVanish)
{
    Handle h0(open_cam(0));
    EXPECT_TRUE(h0.valid());

    HANDLE absent = CreateFileA("\\\\.\\QlvnQKZ51RVN-2", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, absent);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    ASSERT_EQ(0u, vcamctl_attach(2, 0, 0));
    {
        Handle h2(CreateFileA("\\\\.\\QlvnQKZ51RVN-2", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(h2.valid());
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), vcamctl_attach(2, 0, 0));
    ASSERT_EQ(0u, vcamctl_detach(2));
    Handle gone(open_cam(2));
    EXPECT_FALSE(gone.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), vcamctl_detach(2));
}

TEST_F(Protocol, SuffixesPutNBeforeM)
{
    struct {
        int number;
        const char* path;
    } cases[] = {{10, "\\\\.\\QlvnQKZ51RVN-A"},
                 {21, "\\\\.\\QlvnQKZ51RVN-L"},
                 {22, "\\\\.\\QlvnQKZ51RVN-N"},
                 {23, "\\\\.\\QlvnQKZ51RVN-M"},
                 {31, "\\\\.\\QlvnQKZ51RVN-V"}};
    for (auto& c : cases) {
        ASSERT_EQ(0u, vcamctl_attach(c.number, 0, 0)) << c.number;
        {
            Handle h(CreateFileA(c.path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
            ASSERT_TRUE(h.valid()) << c.path;
            // The path reaches that camera and no other: its own open counter moved.
            ASSERT_TRUE(wait_until([&] { return info(c.number).opens == 1; })) << c.path;
        }
        ASSERT_EQ(0u, vcamctl_detach(c.number));
    }
}

TEST_F(Protocol, SensorReadAnswersOnTheSecondReplyRead)
{
    Handle h(open_cam(0));
    ASSERT_TRUE(h.valid());
    uint8_t packet[64] = {0x0C, 0}, first[64], second[64], third[64];
    DWORD moved = 0;
    ASSERT_EQ(0u, vcamraw_command(h.get(), packet));
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_OUT, 1, first, 64, &moved));
    EXPECT_EQ(64u, moved);
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_OUT, 1, second, 64, &moved));
    EXPECT_EQ(64u, moved);
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_OUT, 1, third, 64, &moved));
    EXPECT_EQ(0x13, second[0]);
    EXPECT_EQ(0x13, second[1]);
    EXPECT_NE(0, std::memcmp(first, second, 64)) << "the first read is a status packet";
    uint8_t zeros[64] = {};
    EXPECT_EQ(0, std::memcmp(third, zeros, 64)) << "further reads are empty";

    // The chip version is the attached camera's own, and read-only.
    ASSERT_EQ(0u, vcamctl_attach(1, 0, 0x1324));
    Handle h1(open_cam(1));
    uint16_t v = 0;
    ASSERT_EQ(0u, vcamraw_read_reg(h1.get(), 0, &v));
    EXPECT_EQ(0x1324, v);
    ASSERT_EQ(0u, vcamraw_write_reg(h1.get(), 0, 0x1111));
    ASSERT_EQ(0u, vcamraw_read_reg(h1.get(), 0, &v));
    EXPECT_EQ(0x1324, v);
}

TEST_F(Protocol, RegisterWritesReadBackAndSurviveASoftReset)
{
    Handle h(open_cam(0));
    uint16_t v = 0;
    ASSERT_EQ(0u, vcamraw_write_reg(h.get(), 53, 0x1234));
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 53, &v));
    EXPECT_EQ(0x1234, v);
    ASSERT_EQ(0u, vcamraw_write_reg(h.get(), 200, 0xBEEF));
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 200, &v));
    EXPECT_EQ(0xBEEF, v);

    ASSERT_EQ(0u, vcamraw_write_reg(h.get(), 12, 1));
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 53, &v));
    EXPECT_EQ(0x1234, v);
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 200, &v));
    EXPECT_EQ(0xBEEF, v);
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 11, &v));
    EXPECT_EQ(480, v);
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 13, &v));
    EXPECT_EQ(0x30, v & 0x3F) << "both mirror bits set, no binning";
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 12, &v));
    EXPECT_EQ(0, v) << "the reset bit clears itself";
}

TEST_F(Protocol, RegisterWriteLogKeepsOrderAndValues)
{
    Handle h(open_cam(0));
    const uint8_t regs[] = {7, 15, 19, 16, 16, 32};
    const uint16_t values[] = {904, 17, 11570, 64, 64, 469};
    for (int i = 0; i < 6; i++)
        ASSERT_EQ(0u, vcamraw_write_reg(h.get(), regs[i], values[i]));
    vcam_regs r{};
    ASSERT_EQ(0u, vcamctl_regs(0, &r));
    ASSERT_EQ(6u, r.log_count);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(static_cast<uint32_t>(i + 1), r.log[i].seq);
        EXPECT_EQ(regs[i], r.log[i].reg);
        EXPECT_EQ(values[i], r.log[i].value);
    }
    EXPECT_EQ(469, r.regs[32]);

    // The log keeps the most recent 64 writes, oldest first.
    for (int i = 0; i < 100; i++)
        ASSERT_EQ(0u, vcamraw_write_reg(h.get(), 40, static_cast<uint16_t>(i)));
    ASSERT_EQ(0u, vcamctl_regs(0, &r));
    EXPECT_EQ(106u, r.log_count);
    EXPECT_EQ(43u, r.log[0].seq);
    EXPECT_EQ(36, r.log[0].value);
    EXPECT_EQ(99, r.log[63].value);
}

TEST_F(Protocol, PortsRoundTrip)
{
    Handle h(open_cam(0));
    uint8_t v = 0;
    ASSERT_EQ(0u, vcamraw_write_port(h.get(), 7, 0xA5));
    ASSERT_EQ(0u, vcamraw_read_port(h.get(), 7, &v));
    EXPECT_EQ(0xA5, v);
    ASSERT_EQ(0u, vcamraw_write_port(h.get(), 15, 3));
    ASSERT_EQ(0u, vcamraw_read_port(h.get(), 15, &v));
    EXPECT_EQ(3, v);
    // 40 MHz shortens the full-window period from 17850 us to 10710 us.
    ASSERT_EQ(0u, vcamraw_set_window(h.get(), 0, 0, 752, 480, 0, nullptr, nullptr));
    EXPECT_EQ(10710u, info(0).frame_period_us);

    // Transfer size through ports 0-3, least significant first.
    for (uint8_t p = 0; p < 4; p++)
        ASSERT_EQ(0u, vcamraw_write_port(h.get(), p, static_cast<uint8_t>(0x00040400u >> (8 * p))));
    EXPECT_EQ(0x40400u, info(0).transfer_bytes);
    ASSERT_EQ(0u, vcamraw_write_port(h.get(), 14, 1));
    EXPECT_EQ(0x80800u, info(0).transfer_bytes) << "16-bit mode doubles the read";
}

TEST_F(Protocol, SerialRomRoundTripsAndHoldsIdentification)
{
    Handle h(open_cam(0));
    uint8_t v = 0;
    ASSERT_EQ(0u, vcamraw_read_rom(h.get(), 0x1EB0, &v));
    EXPECT_EQ(1, v) << "sampling-mode byte";
    ASSERT_EQ(0u, vcamraw_read_rom(h.get(), 0x1800, &v));
    EXPECT_EQ('Q', v);

    ASSERT_EQ(0u, vcamraw_write_rom(h.get(), 0x10, 0x5A));
    ASSERT_EQ(0u, vcamraw_read_rom(h.get(), 0x1810, &v));
    EXPECT_EQ(0x5A, v);
    // Writes persist and are visible through the control device too.
    uint8_t rom[2048];
    ASSERT_EQ(0u, vcamctl_rom_read(0, rom));
    EXPECT_EQ(0x5A, rom[0x10]);
    ASSERT_EQ(0u, vcamctl_rom_write(0, 0x1EB0, 2));
    ASSERT_EQ(0u, vcamraw_read_rom(h.get(), 0x1EB0, &v));
    EXPECT_EQ(2, v);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), vcamctl_rom_write(0, 0x17FF, 1));

    // A malformed read packet (wrong fixed bytes) does not reach the ROM.
    uint8_t bad[64] = {0x41, 0x51, 0x02, 0x00, 0x18, 0x10}, reply[64];
    ASSERT_EQ(0u, vcamraw_query(h.get(), bad, reply));
    EXPECT_EQ(0xFF, reply[0]);
}

TEST_F(Protocol, RequestsMoveTheLengthAskedAndUnknownCodesAreAccepted)
{
    Handle h(open_cam(0));
    uint8_t packet[64] = {0x04, 53, 0, 40};
    DWORD moved = 0;
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_IN, 0, packet, 63, &moved));
    EXPECT_EQ(63u, moved) << "a short packet gives a short count";
    uint16_t v = 0;
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 53, &v));
    EXPECT_EQ(40, v) << "the bytes that arrived were still obeyed";

    // Pipe 0 takes commands through the out-direct code as well.
    uint8_t write[64] = {0x04, 53, 0, 41};
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_OUT, 0, write, 64, &moved));
    EXPECT_EQ(64u, moved);
    ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 53, &v));
    EXPECT_EQ(41, v);

    uint8_t unknown[64] = {0x77, 1, 2, 3};
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_IN, 0, unknown, 64, &moved));
    EXPECT_EQ(64u, moved);

    uint8_t reply[100];
    ASSERT_EQ(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_OUT, 1, reply, 100, &moved));
    EXPECT_EQ(100u, moved);

    // An unknown control code or pipe is refused.
    DWORD got = 0;
    uint32_t pipe = 0;
    EXPECT_FALSE(DeviceIoControl(h.get(), 0x222000, &pipe, 4, packet, 64, &got, nullptr));
    EXPECT_NE(0u, vcamraw_pipe(h.get(), VCAM_IOCTL_PIPE_IN, 9, packet, 64, &moved));

    vcam_camera_info i = info(0);
    EXPECT_GE(i.requests[VCAM_CODE_PIPE_IN], 3u);
    EXPECT_GE(i.requests[VCAM_CODE_PIPE_OUT], 4u);
    EXPECT_GE(i.requests[VCAM_CODE_OTHER], 1u);
}

TEST_F(Protocol, RepliesBelongToTheHandleThatAsked)
{
    Handle a(open_cam(0)), b(open_cam(0));
    uint8_t ask[64] = {0x26, 7}, reply[64];
    ASSERT_EQ(0u, vcamraw_write_port(a.get(), 7, 0x42));
    ASSERT_EQ(0u, vcamraw_command(a.get(), ask));
    // A command on another handle in between does not disturb a's reply.
    uint16_t v;
    ASSERT_EQ(0u, vcamraw_read_reg(b.get(), 0, &v));
    DWORD moved;
    ASSERT_EQ(0u, vcamraw_pipe(a.get(), VCAM_IOCTL_PIPE_OUT, 1, reply, 64, &moved));
    ASSERT_EQ(0u, vcamraw_pipe(a.get(), VCAM_IOCTL_PIPE_OUT, 1, reply, 64, &moved));
    EXPECT_EQ(0x42, reply[0]);
}

}  // namespace
