// Helpers for the raw-protocol tests of the virtual camera.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "vcamctl.h"

namespace vcamtest {

// Closes a handle at the end of its scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    void reset()
    {
        if (valid())
            CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Polls until cond holds or the time-out passes; generous, for a loaded machine.
inline bool wait_until(const std::function<bool()>& cond, DWORD timeout_ms = 20000)
{
    DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > timeout_ms)
            return false;
        Sleep(5);
    }
    return true;
}

inline vcam_camera_info info(int camera)
{
    vcam_camera_info i{};
    EXPECT_EQ(0u, vcamctl_camera_info(camera, &i));
    return i;
}

// A frame read on its own thread, so that the test can act while it is pending.
class PendingRead {
public:
    PendingRead(HANDLE h, DWORD length) : h_(h), buffer_(length)
    {
        thread_ = CreateThread(nullptr, 0, &PendingRead::run, this, 0, nullptr);
    }
    ~PendingRead()
    {
        if (thread_) {
            WaitForSingleObject(thread_, 60000);
            CloseHandle(thread_);
        }
    }
    // Waits for the read to end; false if it did not within the time-out.
    bool finish(DWORD timeout_ms = 20000) { return WaitForSingleObject(thread_, timeout_ms) == WAIT_OBJECT_0; }
    bool done() const { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }
    DWORD error() const { return error_; }
    DWORD moved() const { return moved_; }
    const std::vector<uint8_t>& data() const { return buffer_; }

private:
    static DWORD WINAPI run(void* self)
    {
        auto* r = static_cast<PendingRead*>(self);
        r->error_ = vcamraw_pipe(r->h_, VCAM_IOCTL_PIPE_IN, 2, r->buffer_.data(),
                                 static_cast<DWORD>(r->buffer_.size()), &r->moved_);
        return 0;
    }
    HANDLE h_;
    std::vector<uint8_t> buffer_;
    HANDLE thread_ = nullptr;
    DWORD error_ = 0xFFFFFFFF, moved_ = 0;
};

// Every test starts from the defaults: camera 0 only, pacing on, no faults.
class VcamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, vcamctl_reset()) << "is the virtual camera driver running?"; }
    void TearDown() override { vcamctl_reset(); }

    static HANDLE open_cam(int n) { return vcamraw_open(n); }

    // Reads one frame of the programmed size; fails the test on error.
    static std::vector<uint8_t> frame(HANDLE h, DWORD bytes)
    {
        std::vector<uint8_t> buf(bytes);
        DWORD moved = 0;
        EXPECT_EQ(0u, vcamraw_read_frame(h, buf.data(), bytes, &moved));
        EXPECT_EQ(bytes, moved);
        return buf;
    }
};

}  // namespace vcamtest
