// Start-up cost of the main window (controls, menu, address list, device
// lists) and the cost of one landing page, the work every browser request does.
#include "app/LandingPage.h"
#include "app/MainForm.h"
#include "platform/GstAsfWriter.h"
#include "platform/GstRegistration.h"
#include "platform/GstVideoRenderer.h"

#include <QApplication>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterGstPlatform();
    RegisterVideoRenderer();
    RegisterAsfWriter();
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };

    // The first window pays for GStreamer's device probing and plugin loading.
    auto t0 = Clock::now();
    { TMainForm first; }
    const double firstMs = ms(Clock::now() - t0);
    constexpr int kWindows = 20;
    t0 = Clock::now();
    for (int i = 0; i < kWindows; ++i)
        TMainForm form;
    const double windowMs = ms(Clock::now() - t0) / kWindows;

    constexpr int kPages = 100000;
    const TLandingPageTexts texts{"320", "300", "8000", "192.168.1.5"};
    size_t bytes = 0;
    t0 = Clock::now();
    for (int i = 0; i < kPages; ++i)
        bytes += BuildLandingPage(texts).size();
    const double pageUs = ms(Clock::now() - t0) * 1000 / kPages;

    std::printf("first window (device probing included): %.1f ms\n", firstMs);
    std::printf("later windows: %.2f ms each (%d)\n", windowMs, kWindows);
    std::printf("landing page: %.2f us each, %zu bytes\n", pageUs, bytes / kPages);
    return 0;
}
