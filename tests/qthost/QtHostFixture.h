// A Qt host with its saver window open on a recording stand-in for the saver's handlers, on
// Qt's offscreen platform. Each test gets its own host and window.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "host/QtHost.h"
#include "host/SaverWindow.h"

namespace digitmosaic::testing {

// Records every handler call as a line such as "KeyDown" or "MouseMove".
class RecordingSaverEvents final : public SaverWindowEvents {
  public:
    void Form_Load() override { calls.emplace_back("Load"); }
    void Form_Click() override { calls.emplace_back("Click"); }
    void Form_KeyDown(int /*keyCode*/, int /*shift*/) override { calls.emplace_back("KeyDown"); }
    void Form_MouseDown(int button, int /*shift*/, float /*x*/, float /*y*/) override {
        calls.push_back("MouseDown " + std::to_string(button));
    }
    void Form_MouseMove(int /*button*/, int /*shift*/, float x, float y) override {
        calls.emplace_back("MouseMove");
        moves.push_back({x, y});
    }
    // Keeps the window open, so a test can go on after a close request.
    void Form_Unload(bool& cancel) override {
        calls.emplace_back("Unload");
        cancel = true;
    }

    struct Point {
        float x;
        float y;
    };
    std::vector<std::string> calls;
    std::vector<Point> moves;
};

class QtHostTest : public ::testing::Test {
  protected:
    // Opens the saver window on a new host; the canvas then has the window's size.
    void Open(QtHost::Pacing pacing = QtHost::Pacing::Unpaced);
    // Gives the window (and so the canvas) this size in pixels.
    void Resize(int width, int height);
    const QImage& Canvas() const { return *host_->SaverCanvas(); }

    RecordingSaverEvents events_;
    std::unique_ptr<QtHost> host_;
    SaverWindow* window_ = nullptr;
};

}  // namespace digitmosaic::testing
