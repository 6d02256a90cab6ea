// Concurrency, faults, unplugging and handle bookkeeping of the virtual camera, and vcam.exe.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "vcam_test_util.h"

using namespace vcamtest;

namespace {

const DWORD kFull = 361472;

class Robustness : public VcamTest {
protected:
    void SetUp() override
    {
        VcamTest::SetUp();
        ASSERT_EQ(0u, vcamctl_pacing(0));
    }
};

TEST_F(Robustness, CommandsOnAnotherHandleCompleteWhileAReadWaits)
{
    Handle reader(open_cam(0)), control(open_cam(0));
    ASSERT_EQ(0u, vcamraw_write_port(control.get(), 11, 1));  // trigger mode: the read waits
    ASSERT_EQ(0u, vcamraw_set_timeout(control.get(), 120000));
    PendingRead read(reader.get(), kFull);
    ASSERT_TRUE(wait_until([] { return info(0).reads_pending == 1; }));
    for (int i = 0; i < 200; i++) {
        uint16_t v = 0;
        ASSERT_EQ(0u, vcamraw_write_reg(control.get(), 53, static_cast<uint16_t>(i)));
        ASSERT_EQ(0u, vcamraw_read_reg(control.get(), 53, &v));
        ASSERT_EQ(i, v);
    }
    EXPECT_FALSE(read.done()) << "the read was still waiting all along";
    ASSERT_EQ(0u, vcamctl_trigger(0, 1));
    ASSERT_TRUE(read.finish());
    EXPECT_EQ(0u, read.error());
}

TEST_F(Robustness, InjectedFaultsAffectTheNextReadsOnly)
{
    Handle h(open_cam(0));
    std::vector<uint8_t> buf(kFull);
    DWORD moved = 0;

    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_SHORT_READ, 1));
    ASSERT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_LT(moved, kFull);
    ASSERT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(kFull, moved);

    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_FAIL_READ, 2));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));

    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_FAIL_COMMAND, 1));
    uint16_t v;
    EXPECT_NE(0u, vcamraw_write_reg(h.get(), 53, 20));
    EXPECT_EQ(0u, vcamraw_read_reg(h.get(), 53, &v));
    EXPECT_EQ(16, v) << "the failed write did not happen";

    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_STALL, 0));
    ASSERT_EQ(0u, vcamraw_set_timeout(h.get(), 200));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_CLEAR, 0));
    ASSERT_EQ(0u, vcamraw_set_timeout(h.get(), 60000));
    EXPECT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));

    vcam_camera_info i = info(0);
    EXPECT_EQ(1u, i.reads_short);
    EXPECT_EQ(2u, i.reads_failed);
    EXPECT_EQ(1u, i.commands_failed);
    EXPECT_EQ(2u, i.reads_timed_out);
    EXPECT_EQ(4u, i.frames_delivered) << "short reads count as delivered, failed ones do not";
}

TEST_F(Robustness, FaultUntilClearedKeepsFailing)
{
    Handle h(open_cam(0));
    std::vector<uint8_t> buf(kFull);
    DWORD moved = 0;
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_FAIL_READ, 0));
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_CLEAR, 0));
    EXPECT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
}

TEST_F(Robustness, DetachFailsThePendingReadAndLaterRequests)
{
    ASSERT_EQ(0u, vcamctl_attach(3, 0, 0));
    Handle h(open_cam(3));
    ASSERT_TRUE(h.valid());
    ASSERT_EQ(0u, vcamraw_write_port(h.get(), 11, 1));
    ASSERT_EQ(0u, vcamraw_set_timeout(h.get(), 120000));
    PendingRead read(h.get(), kFull);
    ASSERT_TRUE(wait_until([] { return info(3).reads_pending == 1; }));
    ASSERT_EQ(0u, vcamctl_detach(3));
    ASSERT_TRUE(read.finish());
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), read.error());
    uint16_t v;
    EXPECT_NE(0u, vcamraw_read_reg(h.get(), 0, &v)) << "the old handle is dead";
    Handle again(open_cam(3));
    EXPECT_FALSE(again.valid());
    EXPECT_EQ(1u, info(3).reads_disconnected);

    // Re-attached, the camera starts afresh.
    h.reset();
    ASSERT_EQ(0u, vcamctl_attach(3, 0, 0));
    Handle fresh(open_cam(3));
    ASSERT_TRUE(fresh.valid());
    std::vector<uint8_t> buf(kFull);
    DWORD moved;
    EXPECT_EQ(0u, vcamraw_read_frame(fresh.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(1u, info(3).handles_open);
}

// A frame caught between rendering and delivery by an unplug fails as unplugged: the detach
// waits for it instead of deleting the device under it, and the frame never arrives.
TEST_F(Robustness, UnplugDuringDeliveryFailsTheFrame)
{
    ASSERT_EQ(0u, vcamctl_attach(3, 0, 0));
    Handle h(open_cam(3));
    ASSERT_TRUE(h.valid());
    ASSERT_EQ(0u, vcamctl_fault(3, VCAM_FAULT_SLOW_FRAME, 1));
    PendingRead read(h.get(), kFull);
    // Taken off the queue and not yet complete: the frame is being delivered.
    ASSERT_TRUE(wait_until([] { return info(3).reads_pending == 0 && info(3).fault_slow_frame == 0; }));
    ASSERT_FALSE(read.done());
    vcam_driver_info before{}, after{};
    ASSERT_EQ(0u, vcamctl_driver_info(&before));
    ASSERT_EQ(0u, vcamctl_detach(3));
    ASSERT_TRUE(read.finish());
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), read.error());
    ASSERT_EQ(0u, vcamctl_driver_info(&after));
    EXPECT_EQ(before.frames_withheld + 1, after.frames_withheld);
    EXPECT_EQ(before.detach_waits + 1, after.detach_waits);
    EXPECT_EQ(0u, after.pending_reads);
}

// Seconds the unplug stress runs: 20 by default, longer in the soak run.
int StressSeconds()
{
    const char* text = std::getenv("QLV_STRESS_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 20;
}

// Readers open the camera and read frames back to back while the main thread plugs it in and
// out (alternately colour and monochrome). Frames caught mid-render by an unplug must fail as
// unplugged, never reach the reader after the unplug, and the driver must end with no handle
// and no read left. Every frame that does arrive is whole and shows the scene.
TEST_F(Robustness, UnplugAgainstFramesInFlight)
{
    constexpr int kCam = 2;
    const DWORD seconds = static_cast<DWORD>(StressSeconds());
    vcam_driver_info before{};
    ASSERT_EQ(0u, vcamctl_driver_info(&before));
    std::atomic<int> unplugs{0};  // detaches that returned
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0}, failures{0}, bad{0}, afterUnplug{0}, unexpected{0};
    auto reader = [&] {
        std::vector<uint8_t> buf(kFull);
        while (!stop) {
            Handle h(open_cam(kCam));
            if (!h.valid()) {
                Sleep(1);
                continue;
            }
            const int opened = unplugs;  // read after the open: never too low
            for (;;) {
                const int issued = unplugs;
                DWORD moved = 0;
                const DWORD err = vcamraw_read_frame(h.get(), buf.data(), kFull, &moved);
                if (err == 0) {
                    ++frames;
                    if (issued > opened)
                        ++afterUnplug;  // a camera unplugged before the read began delivered
                    if (moved != kFull || buf[0] != 90 || (buf[94] != 6 && buf[94] != 80) ||
                        buf[kFull - 1] != 0)
                        ++bad;
                    if (stop)
                        break;
                    continue;
                }
                ++failures;
                if (err != ERROR_DEVICE_NOT_CONNECTED && err != ERROR_ACCESS_DENIED &&
                    err != ERROR_OPERATION_ABORTED && err != ERROR_GEN_FAILURE &&
                    err != ERROR_INVALID_HANDLE && err != ERROR_FILE_NOT_FOUND)
                    ++unexpected;
                break;
            }
        }
    };
    std::thread a(reader), b(reader);
    const DWORD start = GetTickCount();
    int cycles = 0, busy = 0, attachFailures = 0;
    while (GetTickCount() - start < seconds * 1000) {
        if (vcamctl_attach(kCam, cycles & 1, 0) != 0)
            ++attachFailures;
        Sleep(static_cast<DWORD>(cycles % 7) * 3);  // unplug at varying points of a frame
        DWORD err;
        while ((err = vcamctl_detach(kCam)) == ERROR_BUSY)
            ++busy;
        EXPECT_EQ(0u, err);
        ++unplugs;
        ++cycles;
    }
    stop = true;
    a.join();
    b.join();

    vcam_driver_info after{};
    EXPECT_TRUE(wait_until([&] {
        return vcamctl_driver_info(&after) == 0 && after.camera_handles == 0 &&
               after.pending_reads == 0;
    })) << after.camera_handles << " handles, " << after.pending_reads << " reads left";
    EXPECT_EQ(0u, after.attached_mask & (1u << kCam));
    EXPECT_EQ(0, attachFailures);
    EXPECT_EQ(0, bad) << "frames not whole";
    EXPECT_EQ(0, afterUnplug) << "frames from a camera already unplugged";
    EXPECT_EQ(0, unexpected) << "reads that failed for another reason than the unplug";
    EXPECT_GT(frames.load(), 0);
    EXPECT_GT(failures.load(), 0);
    printf("SOAK vcam unplug against frames in flight: %d cycles in %lu s, %d frames, %d reads "
           "failed, %lu frames withheld, %lu detaches waited, %d busy\n",
           cycles, seconds, frames.load(), failures.load(),
           static_cast<unsigned long>(after.frames_withheld - before.frames_withheld),
           static_cast<unsigned long>(after.detach_waits - before.detach_waits), busy);
    // The camera works again after all this.
    ASSERT_EQ(0u, vcamctl_attach(kCam, 0, 0));
    Handle h(open_cam(kCam));
    ASSERT_TRUE(h.valid());
    std::vector<uint8_t> buf(kFull);
    DWORD moved = 0;
    EXPECT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(kFull, moved);
}

TEST_F(Robustness, ClosingAHandleEndsItsPendingRead)
{
    HANDLE raw = open_cam(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, raw);
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_STALL, 0));
    ASSERT_EQ(0u, vcamraw_set_timeout(raw, 120000));
    {
        PendingRead read(raw, kFull);
        ASSERT_TRUE(wait_until([] { return info(0).reads_pending == 1; }));
        CloseHandle(raw);
        ASSERT_TRUE(read.finish());
        EXPECT_NE(0u, read.error());
    }
    ASSERT_TRUE(wait_until([] { return info(0).handles_open == 0; }));
    EXPECT_EQ(0u, info(0).reads_pending);
    EXPECT_EQ(1u, info(0).reads_cancelled);
}

TEST_F(Robustness, CancellingAReadLeavesTheHandleUsable)
{
    Handle h(open_cam(0));
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_STALL, 0));
    ASSERT_EQ(0u, vcamraw_set_timeout(h.get(), 120000));
    {
        PendingRead read(h.get(), kFull);
        ASSERT_TRUE(wait_until([] { return info(0).reads_pending == 1; }));
        ASSERT_TRUE(CancelIoEx(h.get(), nullptr));
        ASSERT_TRUE(read.finish());
        EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), read.error());
    }
    EXPECT_EQ(1u, info(0).reads_cancelled);
    EXPECT_EQ(0u, info(0).reads_pending);
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_CLEAR, 0));
    std::vector<uint8_t> buf(kFull);
    DWORD moved = 0;
    EXPECT_EQ(0u, vcamraw_read_frame(h.get(), buf.data(), kFull, &moved));
    EXPECT_EQ(kFull, moved);
}

// Each camera keeps its own sensor while both stream at once.
TEST_F(Robustness, TwoCamerasStreamAtOnceWithTheirOwnContent)
{
    ASSERT_EQ(0u, vcamctl_attach(1, 1, 0));
    struct Stream {
        int camera;
        int bad = 0, frames = 0;
        static DWORD WINAPI run(void* p)
        {
            auto* s = static_cast<Stream*>(p);
            Handle h(vcamraw_open(s->camera));
            if (vcamraw_set_window(h.get(), 0, 0, 752, 480, 0, nullptr, nullptr) != 0)
                return s->bad = 1000, 0;
            std::vector<uint8_t> buf(kFull);
            for (int i = 0; i < 30; i++) {
                DWORD moved = 0;
                if (vcamraw_read_frame(h.get(), buf.data(), kFull, &moved) != 0 || moved != kFull) {
                    s->bad++;
                    continue;
                }
                s->frames++;
                // Yellow bar at a blue site at the power-up gain: 24 on the colour sensor,
                // luminance 321 on the mono one.
                if (buf[94] != (s->camera == 0 ? 6 : 80))
                    s->bad++;
            }
            return 0;
        }
    } a, b;
    a.camera = 0;
    b.camera = 1;
    HANDLE ta = CreateThread(nullptr, 0, &Stream::run, &a, 0, nullptr);
    HANDLE tb = CreateThread(nullptr, 0, &Stream::run, &b, 0, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ta, 120000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(tb, 120000));
    CloseHandle(ta);
    CloseHandle(tb);
    EXPECT_EQ(0, a.bad);
    EXPECT_EQ(0, b.bad);
    EXPECT_EQ(30u, info(0).frames_delivered);
    EXPECT_EQ(30u, info(1).frames_delivered);
}

// Runs a program from the binary folder and returns its exit code (or ~0u on failure).
DWORD run(const std::string& command_line)
{
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = command_line;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

TEST_F(Robustness, ProcessExitWithAPendingReadLeavesNoHandleOpen)
{
    ASSERT_EQ(0u, vcamctl_fault(0, VCAM_FAULT_STALL, 0));
    vcam_camera_info before = info(0);
    ASSERT_EQ(0u, run("vcam_pending_child.exe 0"));
    ASSERT_TRUE(wait_until([] { return info(0).handles_open == 0 && info(0).reads_pending == 0; }))
        << "handles open " << info(0).handles_open << ", reads pending " << info(0).reads_pending;
    vcam_camera_info after = info(0);
    EXPECT_EQ(before.opens + 1, after.opens);
    EXPECT_EQ(before.reads_cancelled + 1, after.reads_cancelled);
}

TEST_F(Robustness, ThousandOpenCloseCyclesAndTenThousandExchangesLeakNothing)
{
    vcam_driver_info d0{};
    ASSERT_EQ(0u, vcamctl_driver_info(&d0));
    for (int i = 0; i < 1000; i++) {
        Handle h(open_cam(0));
        ASSERT_TRUE(h.valid()) << i;
        uint16_t v = 0;
        ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 0, &v)) << i;
        ASSERT_EQ(0x1313, v);
    }
    ASSERT_TRUE(wait_until([] { return info(0).handles_open == 0; }));
    EXPECT_EQ(1000u, info(0).opens);
    EXPECT_EQ(1000u, info(0).closes);

    Handle h(open_cam(0));
    for (int i = 0; i < 10000; i++) {
        uint16_t v = 0;
        ASSERT_EQ(0u, vcamraw_read_reg(h.get(), 0, &v)) << i;
        ASSERT_EQ(0x1313, v) << i;
    }
    EXPECT_EQ(1u, info(0).handles_open);
    EXPECT_EQ(11000u, info(0).commands);
    h.reset();
    ASSERT_TRUE(wait_until([] { return info(0).handles_open == 0; }));
    vcam_driver_info d1{};
    ASSERT_EQ(0u, vcamctl_driver_info(&d1));
    EXPECT_EQ(d0.camera_handles, d1.camera_handles);
}

TEST_F(Robustness, VcamToolCommandsWorkAndRejectBadArguments)
{
    EXPECT_EQ(0u, run("vcam.exe list"));
    EXPECT_EQ(0u, run("vcam.exe attach 5 --mono --chip 0x1311"));
    vcam_camera_info c = info(5);
    EXPECT_EQ(1u, c.attached);
    EXPECT_EQ(1u, c.mono);
    EXPECT_EQ(0x1311u, c.chip);
    EXPECT_EQ(0u, run("vcam.exe scene 5 static"));
    EXPECT_EQ(0u, run("vcam.exe noise 5 on"));
    EXPECT_EQ(0u, run("vcam.exe fault 5 fail-read 3"));
    c = info(5);
    EXPECT_EQ(0u, c.moving);
    EXPECT_EQ(1u, c.noise);
    EXPECT_EQ(3u, c.fault_fail_read);
    EXPECT_EQ(0u, run("vcam.exe rom 5 0x1820 0x77"));
    uint8_t rom[2048];
    ASSERT_EQ(0u, vcamctl_rom_read(5, rom));
    EXPECT_EQ(0x77, rom[0x20]);
    EXPECT_EQ(0u, run("vcam.exe regs 5"));
    EXPECT_EQ(0u, run("vcam.exe stats 5"));
    EXPECT_EQ(1u, run("vcam.exe trigger 5")) << "not in trigger mode";
    EXPECT_EQ(1u, run("vcam.exe attach 5")) << "already attached";
    EXPECT_EQ(0u, run("vcam.exe detach 5"));
    EXPECT_EQ(1u, run("vcam.exe detach 5"));
    EXPECT_EQ(2u, run("vcam.exe attach 32"));
    EXPECT_EQ(2u, run("vcam.exe fault 0 melt"));
    EXPECT_EQ(2u, run("vcam.exe rom 0 0x17FF 1"));
    EXPECT_EQ(2u, run("vcam.exe frobnicate"));
    EXPECT_EQ(0u, run("vcam.exe pacing off"));
    vcam_driver_info d{};
    ASSERT_EQ(0u, vcamctl_driver_info(&d));
    EXPECT_EQ(0u, d.pacing);
    EXPECT_EQ(0u, run("vcam.exe reset"));
    ASSERT_EQ(0u, vcamctl_driver_info(&d));
    EXPECT_EQ(1u, d.pacing);
    EXPECT_EQ(1u, d.attached_mask);
}

TEST_F(Robustness, VcamToolReadsNumbersAsDecimalOrHexOnly)
{
    // A leading zero is still decimal: camera 10, not octal 8.
    EXPECT_EQ(0u, run("vcam.exe attach 010"));
    EXPECT_EQ(1u, info(10).attached);
    EXPECT_EQ(0u, info(8).attached);
    EXPECT_EQ(0u, run("vcam.exe attach 09"));
    EXPECT_EQ(1u, info(9).attached);
    EXPECT_EQ(0u, run("vcam.exe attach 0x0B --chip 0X1311"));
    EXPECT_EQ(0x1311u, info(11).chip);
    EXPECT_EQ(0u, run("vcam.exe fault 0 fail-read 012"));
    EXPECT_EQ(12u, info(0).fault_fail_read);
    // Signs, blanks and stray prefixes are refused, not read as huge counts.
    EXPECT_EQ(2u, run("vcam.exe fault 0 fail-read \" -2\""));
    EXPECT_EQ(2u, run("vcam.exe fault 0 fail-read +3"));
    EXPECT_EQ(2u, run("vcam.exe fault 0 fail-read 0x"));
    EXPECT_EQ(2u, run("vcam.exe rom 0 0x0x1820"));
    EXPECT_EQ(12u, info(0).fault_fail_read) << "a refused command changed nothing";
}

}  // namespace
