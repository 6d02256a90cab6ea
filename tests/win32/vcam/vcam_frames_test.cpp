// Frame content, sample depth, timing and trigger mode of the virtual camera.
#include <algorithm>
#include <cstring>

#include "vcam_test_util.h"

using namespace vcamtest;

namespace {

const DWORD kFull = 361472;  // 752 x 480 rounded up to whole kilopixels

class Frames : public VcamTest {
protected:
    void SetUp() override
    {
        VcamTest::SetUp();
        ASSERT_EQ(0u, vcamctl_scene(0, 0));
        ASSERT_EQ(0u, vcamctl_pacing(0));
        h_ = std::make_unique<Handle>(open_cam(0));
        ASSERT_TRUE(h_->valid());
    }
    HANDLE h() const { return h_->get(); }
    // Programs a window and returns one 8-bit frame of it.
    std::vector<uint8_t> window(int x, int y, int w, int ht, int binning, int* ow, int* oh)
    {
        EXPECT_EQ(0u, vcamraw_set_window(h(), x, y, w, ht, binning, ow, oh));
        DWORD bytes = static_cast<DWORD>((*ow * *oh + 1023) / 1024 * 1024);
        return frame(h(), bytes);
    }
    std::unique_ptr<Handle> h_;
};

TEST_F(Frames, FullFrameShowsTheSceneThroughTheColourMosaic)
{
    int w = 0, ht = 0;
    auto f = window(0, 0, 752, 480, 0, &w, &ht);
    ASSERT_EQ(752, w);
    ASSERT_EQ(480, ht);
    auto px = [&](int x, int y) { return f[static_cast<size_t>(y) * 752 + x]; };
    // At the power-up gain (16) the scene shows at half its level: colour bars 720 -> 360 (8-bit
    // 90), off channels 48 -> 24 (6). Blue at the first pixel, green beside and below it, red
    // diagonally.
    EXPECT_EQ(90, px(0, 0));    // white bar, blue site
    EXPECT_EQ(90, px(1, 1));    // white bar, red site
    EXPECT_EQ(6, px(94, 0));    // yellow bar, blue site
    EXPECT_EQ(90, px(95, 0));   // yellow bar, green site
    EXPECT_EQ(90, px(471, 1));  // red bar, red site
    EXPECT_EQ(6, px(470, 0));   // red bar, blue site
    EXPECT_EQ(6, px(751, 1));   // black bar
    // Gray ramp: 16 -> 8 at the left edge, 1016 -> 508 at the right (10-bit).
    EXPECT_EQ(2, px(0, 200));
    EXPECT_EQ(127, px(751, 200));
    // Vertical stripes, four columns each, 96 and 800 -> 48 and 400.
    EXPECT_EQ(12, px(0, 250));
    EXPECT_EQ(100, px(4, 250));
    // Padding after the image is zero.
    for (DWORD i = 752 * 480; i < kFull; i++)
        ASSERT_EQ(0, f[i]);
}

TEST_F(Frames, WindowRegistersSelectThePartOfTheScene)
{
    int w = 0, ht = 0;
    auto f = window(100, 200, 200, 20, 0, &w, &ht);
    ASSERT_EQ(200, w);
    ASSERT_EQ(20, ht);
    // Row 0 of the window is sensor row 200, in the ramp: 16 + x * 1000 / 751, at half level.
    auto ramp = [](int x) { return (16 + x * 1000 / 751) / 2 >> 2; };
    EXPECT_EQ(ramp(100), f[0]);
    EXPECT_EQ(ramp(150), f[50]);
    EXPECT_EQ(ramp(299), f[199]);
    EXPECT_EQ(ramp(100), f[200]) << "lines have no padding between them";
}

TEST_F(Frames, AReadMovesTheLengthItAsksFor)
{
    int w = 0, ht = 0;
    auto f = window(0, 200, 100, 10, 0, &w, &ht);  // 1000 pixels, transfer size 1024
    ASSERT_EQ(1024u, f.size());
    std::vector<uint8_t> longer(4096, 0xEE), shorter(500, 0xEE);
    DWORD moved = 0;
    ASSERT_EQ(0u, vcamraw_read_frame(h(), longer.data(), 4096, &moved));
    EXPECT_EQ(4096u, moved);
    EXPECT_TRUE(std::equal(f.begin(), f.end(), longer.begin()));
    for (size_t i = 1000; i < 4096; i++)
        ASSERT_EQ(0, longer[i]) << i;
    ASSERT_EQ(0u, vcamraw_read_frame(h(), shorter.data(), 500, &moved));
    EXPECT_EQ(500u, moved);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), f.begin()));
}

TEST_F(Frames, BinningAveragesBlocksAndKeepsTheMosaic)
{
    int w = 0, ht = 0;
    auto f = window(0, 0, 752, 480, 2, &w, &ht);  // 4 x 4
    ASSERT_EQ(188, w);
    ASSERT_EQ(120, ht);
    // Stripe rows (240-359) are binned rows 60-89; each output column covers one stripe.
    EXPECT_EQ(12, f[70 * 188 + 0]);
    EXPECT_EQ(100, f[70 * 188 + 1]);
    auto f2 = window(0, 0, 752, 480, 1, &w, &ht);  // 2 x 2
    ASSERT_EQ(376, w);
    ASSERT_EQ(240, ht);
    // Binned sites keep the mosaic: blue at (0, 0), green beside, red diagonally.
    EXPECT_EQ(90, f2[0]);            // white bar, blue site
    EXPECT_EQ(6, f2[48]);            // yellow bar (binned 47-93), blue site
    EXPECT_EQ(90, f2[47]);           // yellow bar, green site
    EXPECT_EQ(90, f2[47 + 376]);     // yellow bar, red site
    EXPECT_EQ(6, f2[95 + 376]);      // cyan bar (binned 94-140), red site
}

TEST_F(Frames, MirrorBitsFlipTheFrame)
{
    int w = 0, ht = 0;
    auto plain = window(0, 0, 752, 480, 0, &w, &ht);
    uint16_t mode = 0;
    ASSERT_EQ(0u, vcamraw_read_reg(h(), 13, &mode));
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 13, static_cast<uint16_t>(mode & ~0x20)));  // mirror H
    auto mh = frame(h(), kFull);
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 13, static_cast<uint16_t>(mode & ~0x30)));  // and V
    auto hv = frame(h(), kFull);
    for (int y : {0, 1, 200, 250, 479})
        for (int x : {0, 1, 5, 94, 400, 751}) {
            EXPECT_EQ(plain[y * 752 + x], mh[y * 752 + (751 - x)]) << x << "," << y;
            EXPECT_EQ(plain[y * 752 + x], hv[(479 - y) * 752 + (751 - x)]) << x << "," << y;
        }
}

TEST_F(Frames, ExposureAndGainScaleBrightness)
{
    int w = 0, ht = 0;
    auto base = window(0, 0, 752, 480, 0, &w, &ht);
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 11, 960));
    auto bright = frame(h(), kFull);
    EXPECT_EQ(180, bright[0]) << "twice the lines: the scene's own level 720";
    EXPECT_EQ(4, bright[200 * 752]) << "ramp start 16";
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 11, 1920));
    EXPECT_EQ(255, frame(h(), kFull)[0]) << "720 doubled saturates";
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 11, 480));
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 53, 8));
    auto dim = frame(h(), kFull);
    EXPECT_EQ(45, dim[0]);
    EXPECT_EQ(base[250 * 752 + 4] / 2, dim[250 * 752 + 4]);
}

TEST_F(Frames, WideModeDoublesTheSizeAndCarriesTenBits)
{
    int w = 0, ht = 0;
    auto narrow = window(0, 0, 752, 480, 0, &w, &ht);
    ASSERT_EQ(0u, vcamraw_write_port(h(), 14, 1));
    EXPECT_EQ(2 * kFull, info(0).transfer_bytes);
    auto wide = frame(h(), 2 * kFull);
    auto word = [&](size_t i) { return wide[2 * i] | wide[2 * i + 1] << 8; };
    EXPECT_EQ(360, word(0));
    EXPECT_EQ(8, word(200 * 752));
    EXPECT_EQ(508, word(200 * 752 + 751));
    bool above_eight_bits = false;
    for (size_t i = 0; i < 752u * 480u; i++) {
        ASSERT_LE(word(i), 1023) << i;
        ASSERT_EQ(narrow[i], word(i) >> 2) << i;
        above_eight_bits |= word(i) > 255;
    }
    EXPECT_TRUE(above_eight_bits);
}

TEST_F(Frames, MonochromeSensorDeliversLuminance)
{
    ASSERT_EQ(0u, vcamctl_attach(1, 1, 0));
    ASSERT_EQ(0u, vcamctl_scene(1, 0));
    Handle m(open_cam(1));
    ASSERT_EQ(0u, vcamraw_set_window(m.get(), 0, 0, 752, 480, 0, nullptr, nullptr));
    auto f = frame(m.get(), kFull);
    EXPECT_EQ(90, f[0]);
    EXPECT_EQ(90, f[1]) << "no mosaic";
    EXPECT_EQ(((77 * 720 + 150 * 720 + 29 * 48) >> 8) / 2 >> 2, f[94]);  // yellow, half level
    uint8_t kind = 0;
    ASSERT_EQ(0u, vcamraw_read_rom(m.get(), 0x180A, &kind));
    EXPECT_EQ(1, kind);
}

TEST_F(Frames, StaticSceneRepeatsExactlyAndMovingSceneChanges)
{
    ASSERT_EQ(0u, vcamraw_set_window(h(), 0, 0, 752, 480, 0, nullptr, nullptr));
    auto a = frame(h(), kFull);
    auto b = frame(h(), kFull);
    EXPECT_EQ(a, b);
    ASSERT_EQ(0u, vcamctl_noise(0, 1));
    auto noisy = frame(h(), kFull);
    EXPECT_NE(a, noisy);
    EXPECT_EQ(noisy, frame(h(), kFull)) << "a frozen scene freezes its noise too";

    ASSERT_EQ(0u, vcamctl_scene(0, 1));
    auto c = frame(h(), kFull);
    auto d = frame(h(), kFull);
    EXPECT_NE(c, d);
    ASSERT_EQ(0u, vcamctl_noise(0, 0));
    auto e = frame(h(), kFull);
    auto g = frame(h(), kFull);
    // Without noise only the moving band (rows 396-443) differs between frames.
    EXPECT_EQ(0, std::memcmp(e.data(), g.data(), 396 * 752));
    EXPECT_NE(0, std::memcmp(e.data() + 396 * 752, g.data() + 396 * 752, 48 * 752));
}

TEST_F(Frames, ModelledPeriodFollowsWindowClockAndExposure)
{
    ASSERT_EQ(0u, vcamraw_set_window(h(), 0, 0, 752, 480, 0, nullptr, nullptr));
    EXPECT_EQ(17850u, info(0).frame_period_us) << "(480 + 45) x (752 + 64) / 24 MHz";
    ASSERT_EQ(0u, vcamraw_write_port(h(), 15, 1));
    EXPECT_EQ(35700u, info(0).frame_period_us) << "12 MHz";
    ASSERT_EQ(0u, vcamraw_write_port(h(), 15, 0));
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 11, 2000));
    EXPECT_EQ(68000u, info(0).frame_period_us) << "never shorter than 2000 lines of 816 pixels";
    ASSERT_EQ(0u, vcamraw_write_reg(h(), 11, 480));
    ASSERT_EQ(0u, vcamraw_set_window(h(), 0, 0, 752, 480, 1, nullptr, nullptr));
    // 376 x 240 with blanking 284: the 480-line exposure (480 x 660) is longer than the frame.
    EXPECT_EQ(13200u, info(0).frame_period_us);
}

TEST_F(Frames, PacedFramesComeNoFasterThanThePeriod)
{
    ASSERT_EQ(0u, vcamctl_pacing(1));
    ASSERT_EQ(0u, vcamraw_set_window(h(), 0, 0, 752, 480, 0, nullptr, nullptr));
    ASSERT_EQ(0u, vcamraw_write_port(h(), 15, 5));  // 10 MHz: 42.84 ms a frame
    std::vector<uint8_t> buf(kFull);
    DWORD moved;
    ASSERT_EQ(0u, vcamraw_read_frame(h(), buf.data(), kFull, &moved));
    vcam_camera_info before = info(0);
    DWORD start = GetTickCount();
    for (int i = 0; i < 5; i++)
        ASSERT_EQ(0u, vcamraw_read_frame(h(), buf.data(), kFull, &moved));
    DWORD elapsed = GetTickCount() - start;
    vcam_camera_info after = info(0);
    EXPECT_GE(elapsed, 150u) << "five frames span at least four periods of 42.84 ms";
    EXPECT_EQ(5u, after.frames_delivered - before.frames_delivered);
    // The sensor runs freely: each delivered frame is at least one sensor frame later.
    EXPECT_GE(after.sensor_frames - before.sensor_frames, 5u);
}

TEST_F(Frames, TriggerModeWaitsForATriggerOrTheTimeOut)
{
    ASSERT_EQ(0u, vcamraw_set_window(h(), 0, 0, 752, 480, 0, nullptr, nullptr));
    ASSERT_EQ(static_cast<DWORD>(ERROR_BAD_COMMAND), vcamctl_trigger(0, 1)) << "not in trigger mode";
    ASSERT_EQ(0u, vcamraw_write_port(h(), 11, 1));
    ASSERT_EQ(0u, vcamraw_set_timeout(h(), 300));
    std::vector<uint8_t> buf(kFull);
    DWORD moved = 0;
    DWORD start = GetTickCount();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), vcamraw_read_frame(h(), buf.data(), kFull, &moved));
    EXPECT_GE(GetTickCount() - start, 250u) << "failed before the time-out";
    EXPECT_EQ(1u, info(0).reads_timed_out);

    ASSERT_EQ(0u, vcamraw_set_timeout(h(), 60000));
    PendingRead read(h(), kFull);
    ASSERT_TRUE(wait_until([] { return info(0).reads_pending == 1; }));
    EXPECT_FALSE(read.done());
    ASSERT_EQ(0u, vcamctl_trigger(0, 1));
    ASSERT_TRUE(read.finish());
    EXPECT_EQ(0u, read.error());
    EXPECT_EQ(kFull, read.moved());
    EXPECT_EQ(90, read.data()[0]);

    // Two triggers fired ahead are kept for the next two reads.
    ASSERT_EQ(0u, vcamctl_trigger(0, 2));
    EXPECT_EQ(2u, info(0).triggers_pending);
    ASSERT_EQ(0u, vcamraw_read_frame(h(), buf.data(), kFull, &moved));
    ASSERT_EQ(0u, vcamraw_read_frame(h(), buf.data(), kFull, &moved));
    EXPECT_EQ(0u, info(0).triggers_pending);
    // Leaving trigger mode drops unused triggers.
    ASSERT_EQ(0u, vcamctl_trigger(0, 3));
    ASSERT_EQ(0u, vcamraw_write_port(h(), 11, 0));
    EXPECT_EQ(0u, info(0).triggers_pending);
}

TEST_F(Frames, FiredTriggersSaturateRatherThanWrap)
{
    ASSERT_EQ(0u, vcamraw_write_port(h(), 11, 1));
    ASSERT_EQ(0u, vcamctl_trigger(0, 0xFFFFFFFFu));
    ASSERT_EQ(0u, vcamctl_trigger(0, 2));
    EXPECT_EQ(0xFFFFFFFFu, info(0).triggers_pending) << "the count wrapped and lost the triggers";
    ASSERT_EQ(0u, vcamraw_set_timeout(h(), 60000));
    std::vector<uint8_t> buf(kFull);
    DWORD moved = 0;
    EXPECT_EQ(0u, vcamraw_read_frame(h(), buf.data(), kFull, &moved));
    EXPECT_EQ(0xFFFFFFFEu, info(0).triggers_pending);
}

}  // namespace
