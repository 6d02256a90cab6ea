// Unit tests of the virtual camera's sensor and controller model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vcam_sensor.h"

namespace {

struct Sensor : ::testing::Test {
    vcam_sensor s{};
    void SetUp() override { vcam_sensor_init(&s, 0, 0, VCAM_DEFAULT_CHIP); }

    int command(std::vector<uint8_t> bytes, uint8_t* reply, uint32_t len = 64)
    {
        bytes.resize(64);
        return vcam_sensor_command(&s, bytes.data(), len, reply);
    }
    // The register writes the library makes for a window (x, y, w, h) and binning mode.
    void program_window(int x, int y, int w, int h, int mode)
    {
        int f = mode == 1 ? 2 : mode == 2 ? 4 : 1, a = f == 1 ? 1 : f * 2 - 1;
        int cm = 752 - x - w, rm = 480 - y - h;
        uint16_t r13 = vcam_sensor_read_reg(&s, 13);
        vcam_sensor_write_reg(&s, 13, static_cast<uint16_t>((r13 & 0xFFF0) | (f == 2 ? 5 : f == 4 ? 10 : 0)));
        vcam_sensor_write_reg(&s, 1, static_cast<uint16_t>(f == 1 ? cm + 1 : ((cm + a) & ~a) + 1));
        vcam_sensor_write_reg(&s, 2, static_cast<uint16_t>(f == 1 ? rm + 4 : ((rm + a) & ~a) + 4));
        vcam_sensor_write_reg(&s, 3, static_cast<uint16_t>((h + a) & ~a));
        vcam_sensor_write_reg(&s, 4, static_cast<uint16_t>((w + a) & ~a));
    }
};

TEST_F(Sensor, ResetDefaultsAndSoftReset)
{
    EXPECT_EQ(0x1313, vcam_sensor_read_reg(&s, 0));
    EXPECT_EQ(480, vcam_sensor_read_reg(&s, 11));
    EXPECT_EQ(16, vcam_sensor_read_reg(&s, 53));
    EXPECT_EQ(0x30, vcam_sensor_read_reg(&s, 13) & 0x3F);
    vcam_sensor_write_reg(&s, 53, 99);
    vcam_sensor_write_reg(&s, 77, 5);
    vcam_sensor_write_reg(&s, 12, 2);  // without bit 0: no reset
    EXPECT_EQ(99, vcam_sensor_read_reg(&s, 53));
    EXPECT_EQ(2, vcam_sensor_read_reg(&s, 12));
    // A soft reset keeps the registers (trigger mode is applied through it) and clears itself.
    vcam_sensor_write_reg(&s, 12, 1);
    EXPECT_EQ(99, vcam_sensor_read_reg(&s, 53));
    EXPECT_EQ(5, vcam_sensor_read_reg(&s, 77));
    EXPECT_EQ(0, vcam_sensor_read_reg(&s, 12));
    vcam_sensor_reset_registers(&s);
    EXPECT_EQ(16, vcam_sensor_read_reg(&s, 53));
    EXPECT_EQ(0, vcam_sensor_read_reg(&s, 77));
    // Ports belong to the controller and survive a sensor reset.
    vcam_sensor_write_port(&s, 7, 0x3C);
    vcam_sensor_write_reg(&s, 12, 1);
    EXPECT_EQ(0x3C, vcam_sensor_read_port(&s, 7));
}

TEST_F(Sensor, ChipVersionIsReadOnlyAndPerCamera)
{
    vcam_sensor_write_reg(&s, 0, 0x1234);
    EXPECT_EQ(0x1313, vcam_sensor_read_reg(&s, 0));
    vcam_sensor other{};
    vcam_sensor_init(&other, 7, 1, 0x1311);
    EXPECT_EQ(0x1311, vcam_sensor_read_reg(&other, 0));
    vcam_sensor_write_reg(&other, 12, 1);
    EXPECT_EQ(0x1311, vcam_sensor_read_reg(&other, 0));
    EXPECT_EQ('7', vcam_sensor_read_rom(&other, 0x1817)) << "serial number ends in the camera number";
    EXPECT_EQ(1, vcam_sensor_read_rom(&other, 0x180A)) << "monochrome";
}

TEST_F(Sensor, WriteLogWrapsKeepingSequence)
{
    for (int i = 0; i < 70; i++)
        vcam_sensor_write_reg(&s, static_cast<uint8_t>(i), static_cast<uint16_t>(i * 3));
    EXPECT_EQ(70u, s.log_count);
    const vcam_log_entry& newest = s.log[69 % VCAM_LOG_SIZE];
    EXPECT_EQ(70u, newest.seq);
    EXPECT_EQ(69, newest.reg);
    EXPECT_EQ(207, newest.value);
    EXPECT_EQ(7u, s.log[6].seq) << "entry 6 not yet overwritten";
    EXPECT_EQ(65u, s.log[0].seq);
}

TEST_F(Sensor, CommandPacketsAndReplyPositions)
{
    uint8_t reply[64];
    EXPECT_EQ(0, command({0x04, 53, 0x01, 0x2C}, reply));
    EXPECT_EQ(300, vcam_sensor_read_reg(&s, 53));
    EXPECT_EQ(1, command({0x0C, 53}, reply));
    EXPECT_EQ(0x01, reply[0]);
    EXPECT_EQ(0x2C, reply[1]);

    EXPECT_EQ(0, command({0x25, 15, 3}, reply));
    EXPECT_EQ(1, command({0x26, 15}, reply));
    EXPECT_EQ(3, reply[0]);
    EXPECT_EQ(1, command({0x26, 200}, reply));
    EXPECT_EQ(0, reply[0]) << "no such port";

    EXPECT_EQ(0, command({0x09, 0x00, 0x84, 0x05, 0x00}, reply));
    EXPECT_EQ(361472u, s.transfer_pixels);
    EXPECT_EQ(0x84, vcam_sensor_read_port(&s, 1));
    EXPECT_EQ(0, command({0x0A, 1}, reply));
    EXPECT_EQ(1, s.wide_enable);
    EXPECT_EQ(0, vcam_sensor_wide(&s)) << "port 14 switches the sample size";
    vcam_sensor_write_port(&s, 14, 1);
    EXPECT_EQ(722944u, vcam_sensor_transfer_bytes(&s));

    for (uint8_t code : {0x01, 0x02, 0x06, 0x99})
        EXPECT_EQ(0, command({code, 1, 2, 3}, reply)) << int(code);
}

TEST_F(Sensor, SerialRomCommands)
{
    uint8_t reply[64];
    EXPECT_EQ(0, command({0x40, 0x51, 0x03, 0x18, 0x42, 0x99}, reply));
    EXPECT_EQ(0x99, vcam_sensor_read_rom(&s, 0x1842));
    EXPECT_EQ(1, command({0x41, 0x51, 0x02, 0x01, 0x18, 0x42}, reply));
    EXPECT_EQ(0x99, reply[0]);
    EXPECT_EQ(1, command({0x41, 0x51, 0x02, 0x01, 0x1E, 0xB0}, reply));
    EXPECT_EQ(1, reply[0]);
    EXPECT_EQ(1, command({0x41, 0x51, 0x02, 0x01, 0x1F, 0xFF}, reply));
    EXPECT_EQ(0xFF, reply[0]) << "erased byte at the top";
    // Wrong fixed bytes: nothing written, and a read answers 0xFF.
    EXPECT_EQ(0, command({0x40, 0x51, 0x02, 0x18, 0x43, 0x11}, reply));
    EXPECT_EQ(0xFF, vcam_sensor_read_rom(&s, 0x1843));
    EXPECT_EQ(1, command({0x41, 0x51, 0x02, 0x01, 0x17, 0xFF}, reply));
    EXPECT_EQ(0xFF, reply[0]) << "below the ROM";
    EXPECT_EQ(0, vcam_sensor_write_rom(&s, 0x2000, 1));
}

TEST_F(Sensor, ShortPacketsReadMissingBytesAsZero)
{
    uint8_t packet[64] = {0x04, 53, 0x12, 0x34}, reply[64];
    vcam_sensor_command(&s, packet, 3, reply);
    EXPECT_EQ(0x1200, vcam_sensor_read_reg(&s, 53));
    EXPECT_EQ(0, vcam_sensor_command(&s, packet, 0, reply));
}

TEST_F(Sensor, WindowRegistersDecodeToThePictureWindow)
{
    struct Case {
        int x, y, w, h, mode, ex, ey, ew, eh, ow, oh;
    } cases[] = {
        {0, 0, 752, 480, 0, 0, 0, 752, 480, 752, 480},
        {100, 200, 200, 20, 0, 100, 200, 200, 20, 200, 20},
        {1, 1, 751, 479, 0, 0, 0, 752, 480, 752, 480},  // odd sizes round up towards the origin
        {0, 0, 752, 480, 1, 0, 0, 752, 480, 376, 240},
        {64, 32, 320, 240, 1, 64, 32, 320, 240, 160, 120},
        {0, 0, 752, 480, 2, 0, 0, 752, 480, 188, 120},
        {96, 80, 256, 160, 2, 96, 80, 256, 160, 64, 40},
    };
    for (const Case& c : cases) {
        program_window(c.x, c.y, c.w, c.h, c.mode);
        vcam_window w;
        vcam_sensor_window(&s, &w);
        EXPECT_EQ(c.ex, w.x) << c.x << "," << c.y << " " << c.w << "x" << c.h << " mode " << c.mode;
        EXPECT_EQ(c.ey, w.y) << c.x << "," << c.y;
        EXPECT_EQ(c.ew, w.width);
        EXPECT_EQ(c.eh, w.height);
        EXPECT_EQ(c.ow, w.out_width);
        EXPECT_EQ(c.oh, w.out_height);
    }
}

// Every window along one axis, in each binning mode: the shared placement programs the same
// registers as the library's formula, says what the model then reads, and finds the window in
// the picture (exactly at x without binning; within the picture always).
TEST_F(Sensor, PlacementAgreesWithTheModelForEveryWindow)
{
    int wrong = 0;
    for (int mode = 0; mode <= 2; ++mode) {
        const int f = mode == 1 ? 2 : mode == 2 ? 4 : 1;
        for (int width = 4; width <= 752; ++width) {
            for (int x = 0; x + width <= 752; x += (width > 40 ? 7 : 1)) {
                const int y = x % 477, height = 3 + width % (478 - y);
                program_window(x, y, width, height, mode);
                vcam_window w;
                vcam_sensor_window(&s, &w);
                const qlv_placement p = qlv_place_window(x, y, width, height, f);
                const bool ok = p.regs.column_start == vcam_sensor_read_reg(&s, 1) &&
                                p.regs.row_start == vcam_sensor_read_reg(&s, 2) &&
                                p.regs.height == vcam_sensor_read_reg(&s, 3) &&
                                p.regs.width == vcam_sensor_read_reg(&s, 4) && p.readout.x == w.x &&
                                p.readout.y == w.y && p.readout.out_width == w.out_width &&
                                p.readout.out_height == w.out_height && p.width == width / f &&
                                p.column >= 0 && p.column + p.width <= w.out_width &&
                                p.line >= 0 && p.line + p.height <= w.out_height &&
                                (f > 1 || (w.x + p.column == x && w.y + p.line == y));
                if (!ok && wrong++ < 5)
                    ADD_FAILURE() << "window " << x << "," << y << " " << width << "x" << height
                                  << " mode " << mode;
            }
        }
    }
    EXPECT_EQ(0, wrong);
}

// What the model sends for odd windows: at the placement's column and line (mirrored with the
// picture) lie the scene's samples of the window.
TEST_F(Sensor, OddWindowSitsInThePictureWhereThePlacementSays)
{
    vcam_sensor_write_port(&s, VCAM_P_WIDE, 1);
    const struct {
        int x, y, w, h;
    } windows[] = {{100, 200, 201, 21}, {0, 0, 751, 479}, {1, 1, 751, 479}, {745, 470, 7, 9}};
    std::vector<uint8_t> out(VCAM_MAX_FRAME_BYTES);
    for (const auto& c : windows) {
        for (int mirror = 0; mirror < 4; ++mirror) {
            const int mh = mirror & 1, mv = mirror >> 1;
            program_window(c.x, c.y, c.w, c.h, 0);
            uint16_t r13 = vcam_sensor_read_reg(&s, 13);
            r13 = static_cast<uint16_t>((r13 | 0x30) & ~((mh ? 0x20 : 0) | (mv ? 0x10 : 0)));
            vcam_sensor_write_reg(&s, 13, r13);
            vcam_sensor_render(&s, 3, out.data(), static_cast<uint32_t>(out.size()));
            const qlv_placement p = qlv_place_window(c.x, c.y, c.w, c.h, 1);
            const int pw = p.readout.out_width, ph = p.readout.out_height;
            const int col = qlv_mirrored_offset(p.column, c.w, pw, mh);
            const int line = qlv_mirrored_offset(p.line, c.h, ph, mv);
            int wrong = 0;
            for (int j = 0; j < c.h; ++j)
                for (int i = 0; i < c.w; ++i) {
                    const size_t at = (static_cast<size_t>(line + j) * pw + col + i) * 2;
                    const int got = out[at] | out[at + 1] << 8;
                    const int ax = c.x + (mh ? c.w - 1 - i : i), ay = c.y + (mv ? c.h - 1 - j : j);
                    wrong += got != vcam_sensor_sample(&s, ax, ay, 3);
                }
            EXPECT_EQ(0, wrong) << c.x << "," << c.y << " " << c.w << "x" << c.h << " mirror " << mirror;
        }
    }
}

TEST_F(Sensor, BinningAndMirrorBitsOfRegister13)
{
    vcam_window w;
    const uint16_t modes[] = {0x0335, 0x031A, 0x0307, 0x0300};
    const int factors[] = {2, 4, 1, 1};
    for (int i = 0; i < 4; i++) {
        vcam_sensor_write_reg(&s, 13, modes[i]);
        vcam_sensor_window(&s, &w);
        EXPECT_EQ(factors[i], w.factor) << std::hex << modes[i];
    }
    vcam_sensor_window(&s, &w);
    EXPECT_EQ(1, w.mirror_h);
    EXPECT_EQ(1, w.mirror_v);
    vcam_sensor_write_reg(&s, 13, 0x0320);
    vcam_sensor_window(&s, &w);
    EXPECT_EQ(0, w.mirror_h);
    EXPECT_EQ(1, w.mirror_v);
}

TEST_F(Sensor, GarbageWindowRegistersStayOnTheArray)
{
    for (uint16_t v : {uint16_t(0), uint16_t(1), uint16_t(800), uint16_t(0xFFFF)}) {
        for (int r = 1; r <= 4; r++)
            vcam_sensor_write_reg(&s, static_cast<uint8_t>(r), v);
        vcam_window w;
        vcam_sensor_window(&s, &w);
        EXPECT_GE(w.x, 0);
        EXPECT_GE(w.y, 0);
        EXPECT_LE(w.x + w.width, 752);
        EXPECT_LE(w.y + w.height, 480);
        std::vector<uint8_t> out(VCAM_MAX_FRAME_BYTES);
        vcam_sensor_render(&s, 1, out.data(), static_cast<uint32_t>(out.size()));  // under ASan
    }
}

TEST_F(Sensor, FramePeriodFromClockBlankingAndExposure)
{
    program_window(0, 0, 752, 480, 0);
    vcam_sensor_write_reg(&s, 5, 64);
    vcam_sensor_write_reg(&s, 6, 45);
    EXPECT_EQ(17850u, vcam_sensor_frame_period_us(&s));
    const uint32_t expected[] = {17850, 35700, 8925, 10710, 21420, 42840, 17850};
    for (uint8_t clock = 0; clock < 7; clock++) {
        vcam_sensor_write_port(&s, 15, clock);
        EXPECT_EQ(expected[clock], vcam_sensor_frame_period_us(&s)) << int(clock);
    }
    vcam_sensor_write_port(&s, 15, 0);
    vcam_sensor_write_reg(&s, 11, 0x8000 | 1000);  // bit 15 is not part of the line count
    EXPECT_EQ(34000u, vcam_sensor_frame_period_us(&s));
}

TEST_F(Sensor, MosaicPhaseMatchesBayerModeTwo)
{
    // Mode 2: row phase 0 and column phase 1 at the first pixel; (0,1) is blue, (1,0) red, equal
    // phases green.
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            int row_phase = y & 1, col_phase = (x + 1) & 1;
            int expected = row_phase == col_phase ? 1 : row_phase == 0 ? 0 : 2;
            EXPECT_EQ(expected, vcam_filter_channel(x, y)) << x << "," << y;
        }
}

TEST_F(Sensor, RenderHonoursCapacityPaddingMirrorAndDepth)
{
    program_window(0, 0, 16, 8, 0);  // a small window at the top-left corner
    std::vector<uint8_t> out(300, 0xEE);
    uint32_t n = vcam_sensor_render(&s, 0, out.data(), 200);
    EXPECT_EQ(128u, n);
    for (int i = 128; i < 200; i++)
        ASSERT_EQ(0, out[i]);
    EXPECT_EQ(0xEE, out[200]) << "nothing written past the capacity";
    EXPECT_EQ(90, out[0]) << "white 720 at half level (power-up gain)";

    // A capacity smaller than the image stops at a whole line.
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(48u, vcam_sensor_render(&s, 0, out.data(), 50));
    EXPECT_EQ(0xEE, out[50]);

    std::vector<uint8_t> plain(128), mirrored(128);
    vcam_sensor_render(&s, 0, plain.data(), 128);
    vcam_sensor_write_reg(&s, 13, 0x0310);  // mirror H
    vcam_sensor_render(&s, 0, mirrored.data(), 128);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            ASSERT_EQ(plain[y * 16 + x], mirrored[y * 16 + 15 - x]);

    vcam_sensor_write_reg(&s, 13, 0x0330);
    vcam_sensor_write_port(&s, 14, 1);
    std::vector<uint8_t> wide(256);
    EXPECT_EQ(256u, vcam_sensor_render(&s, 0, wide.data(), 256));
    EXPECT_EQ(360, wide[0] | wide[1] << 8);
}

TEST_F(Sensor, UpdatingTheMovingRowsEqualsAFullRender)
{
    // Every binning and mirror combination, 8 and 16 bits, a window cutting the moving rows.
    for (int mode = 0; mode < 3; mode++)
        for (uint16_t mirrors : {0x30, 0x20, 0x10, 0x00})
            for (uint8_t wide : {0, 1}) {
                vcam_sensor_init(&s, 0, 0, VCAM_DEFAULT_CHIP);
                program_window(mode ? 64 : 40, 400 - (mode ? 64 : 0), 320, mode ? 80 : 60, mode);
                vcam_sensor_write_reg(&s, 13, static_cast<uint16_t>((vcam_sensor_read_reg(&s, 13) & ~0x30) | mirrors));
                vcam_sensor_write_port(&s, 14, wide);
                const uint32_t cap = 64 * 1024;
                std::vector<uint8_t> updated(cap), fresh(cap);
                vcam_sensor_render(&s, 3, updated.data(), cap);
                vcam_sensor_render_rows(&s, 40, updated.data(), cap, VCAM_MOVING_TOP, VCAM_MOVING_BOTTOM);
                vcam_sensor_render(&s, 40, fresh.data(), cap);
                ASSERT_EQ(fresh, updated) << "mode " << mode << " mirrors " << mirrors << " wide " << int(wide);
            }
    // The rows outside the band really are the same from frame to frame.
    vcam_sensor_init(&s, 0, 0, VCAM_DEFAULT_CHIP);
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 752; x += 5)
            if (y < VCAM_MOVING_TOP || y >= VCAM_MOVING_BOTTOM) {
                ASSERT_EQ(vcam_sensor_sample(&s, x, y, 1), vcam_sensor_sample(&s, x, y, 77)) << x << "," << y;
            }
}

TEST_F(Sensor, BrightnessSaturatesWithoutOverflow)
{
    vcam_sensor_write_reg(&s, 11, 0x7FFF);
    vcam_sensor_write_reg(&s, 53, 0xFFFF);
    EXPECT_EQ(1023, vcam_sensor_sample(&s, 0, 0, 0));
    vcam_sensor_write_reg(&s, 53, 0);
    EXPECT_EQ(0, vcam_sensor_sample(&s, 0, 0, 0));
    vcam_sensor_write_reg(&s, 11, 0);  // counts as one line
    vcam_sensor_write_reg(&s, 53, 32);
    EXPECT_EQ(720 / 480, vcam_sensor_sample(&s, 0, 0, 0));
}

TEST_F(Sensor, FirstRunSettingsShowTheSceneUnclipped)
{
    // 480 lines at register 53 = 32 (the library's first-run gain) show the scene's own levels;
    // the power-up gain 16 gives half of them.
    vcam_sensor_write_reg(&s, 53, 32);
    EXPECT_EQ(720, vcam_sensor_sample(&s, 0, 0, 0));
    EXPECT_EQ(16, vcam_sensor_sample(&s, 0, 200, 0));
    EXPECT_EQ(1016, vcam_sensor_sample(&s, 751, 200, 0));
    int clipped = 0, total = 0;
    for (int y = 0; y < 480; y += 3)
        for (int x = 0; x < 752; x += 3, total++)
            clipped += vcam_sensor_sample(&s, x, y, 0) >= 1023;
    EXPECT_LT(clipped * 20, total) << "under 5% at full scale";
    vcam_sensor_write_reg(&s, 53, 16);
    EXPECT_EQ(360, vcam_sensor_sample(&s, 0, 0, 0));
    EXPECT_EQ(508, vcam_sensor_sample(&s, 751, 200, 0));
}

TEST_F(Sensor, NoiseIsDeterministicPerFrameAndBounded)
{
    s.noise = 1;
    int differs = 0;
    for (int x = 200; x < 264; x++) {
        int clean = (16 + x * 1000 / 751) / 2;  // half level at the power-up gain
        int a = vcam_sensor_sample(&s, x, 200, 5), b = vcam_sensor_sample(&s, x, 200, 5);
        int c = vcam_sensor_sample(&s, x, 200, 6);
        EXPECT_EQ(a, b);
        EXPECT_LE(std::abs(a - clean), 15);
        differs += a != c;
    }
    EXPECT_GT(differs, 32);
}

TEST_F(Sensor, MovingSquareAdvancesWithTheFrame)
{
    // The square is 48 pixels wide on rows 396-443 and moves 6 pixels a frame.
    auto row = [&](uint32_t frame) {
        std::vector<int> r(752);
        for (int x = 0; x < 752; x++)
            r[x] = vcam_scene_value(&s, x, 420, 2, frame);
        return r;
    };
    auto first_bright = [](const std::vector<int>& r) {
        for (int x = 0; x < 752; x++)
            if (r[x] == 900)
                return x;
        return -1;
    };
    EXPECT_EQ(8, first_bright(row(0)));
    EXPECT_EQ(14, first_bright(row(1)));
    EXPECT_EQ(8 + 6 * 100 % 688, first_bright(row(100)));
}

}  // namespace
