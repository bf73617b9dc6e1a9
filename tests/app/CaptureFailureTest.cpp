// Failures while a mode runs or ends: a recording whose file cannot grow, a
// capture device that fails, a writer that does not confirm its end. The mode
// stops, says why once, and what was written stays readable.
#include "AppTestSupport.h"
#include "RunningGraphFilters.h"
#include "app/MainForm.h"
#include "app/StatusBar.h"
#include "app/Widgets.h"
#include "platform/gst/GstFilter.h"

#include <QLineEdit>
#include <QPushButton>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

namespace {

const QColor kRed(255, 0, 0);

TSkinMenuItem* LastItem(TSkinMenuItem* submenu) {
    return submenu->Items(submenu->Count() - 1);
}

// The capture source inside the video device's bin.
GstElement* VideoSourceElement(TMainForm& form) {
    ComPtr<IBaseFilter> video = GraphFilter(form, "VideoSourceFilter");
    ComPtr<IGstFilter> filter = video ? QueryAs<IGstFilter>(video.Get()) : nullptr;
    if (!filter) return nullptr;
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_sources(GST_BIN(filter->Element()));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK)
        found = GST_ELEMENT(g_value_get_object(&item));
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

void FailSource(GstElement* source, GQuark domain, int code) {
    GError* error = g_error_new_literal(domain, code, "test failure");
    gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, nullptr));
    g_error_free(error);
}

// The first element made by factory anywhere inside bin (a new reference).
GstElement* FindByFactory(GstElement* bin, const char* factory) {
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* f = gst_element_get_factory(e);
        if (f && g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(f)), factory) == 0)
            found = GST_ELEMENT(gst_object_ref(e));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

GstPadProbeReturn DropEndOfStream(GstPad*, GstPadProbeInfo* info, gpointer) {
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS ? GST_PAD_PROBE_DROP
                                                                           : GST_PAD_PROBE_OK;
}

// Files this process writes may not grow beyond limit bytes while it lives;
// writing past it fails (EFBIG) instead of raising SIGXFSZ.
class TFileSizeLimit {
  public:
    explicit TFileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = old_;
        l.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~TFileSizeLimit() { Lift(); }
    void Lift() {
        if (lifted_) return;
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldSignal_);
        lifted_ = true;
    }

  private:
    rlimit old_{};
    void (*oldSignal_)(int) = SIG_DFL;
    bool lifted_ = false;
};

struct CaptureFailure : ::testing::Test {
    TDesktopCapture desktop;
    TMainForm form;

    CaptureFailure() {
        LastItem(form.videoconnect1)->Click();
        LastItem(form.audioconnect1)->Click();
    }

    void ExpectStoppedWith(const std::string& message, TShape* indicator) {
        PumpFor(300); // a second event of the same failure must not add a box
        EXPECT_EQ(desktop.Errors(), std::vector<std::string>{message});
        EXPECT_EQ(form.StatusBar->PanelText(0), message);
        EXPECT_FALSE(form.Capture().GraphActive());
        EXPECT_EQ(indicator->BrushColor(), kRed);
        EXPECT_FALSE(form.Timer().Enabled());
        EXPECT_TRUE(form.bt_preview->isEnabled());
    }
};

TEST_F(CaptureFailure, RecordingIntoAFileThatCannotGrowStopsAndKeepsWhatWasWritten) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kx_app_" + std::to_string(getpid()) + "_full.avi"))
                                 .string();
    std::filesystem::remove(path);
    form.ed_recfile->setText(QString::fromStdString(path));
    {
        TFileSizeLimit limit(2 << 20);
        form.bt_record->click();
        ASSERT_TRUE(form.Capture().Recording()) << desktop.Errors().at(0);
        EXPECT_TRUE(PumpUntil([&] { return !form.Capture().Recording(); }, 5000))
            << "still recording";
    }
    ExpectStoppedWith("Disk full: the recording to \"" + path +
                          "\" stopped; free some space and start again.",
                      form.sh_record);
    int status = 0;
    const std::string probe = RunCommand(
        "ffprobe -v error -show_entries stream=codec_type -of compact '" + path + "'", &status);
    EXPECT_EQ(status, 0) << probe;
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
    std::filesystem::remove(path);
}

TEST_F(CaptureFailure, ALostCameraStopsTheBroadcastAndClosesItsPorts) {
    const int httpPort = FreePort(), asfPort = FreePort();
    form.ed_internalport->setText(QString::number(httpPort));
    form.ed_asfport->setText(QString::number(asfPort));
    form.bt_broadcast->click();
    ASSERT_TRUE(form.Capture().Broadcasting()) << desktop.Errors().at(0);
    GstElement* source = VideoSourceElement(form);
    ASSERT_TRUE(source);
    FailSource(source, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ);
    EXPECT_TRUE(PumpUntil([&] { return !form.Capture().Broadcasting(); }, 5000));
    ExpectStoppedWith("Device lost: the broadcast stopped; reconnect it and start again.",
                      form.sh_broadcast);
    EXPECT_EQ(form.lb_quillon->text(), "offline");
    EXPECT_FALSE(PortAccepts(httpPort));
    EXPECT_FALSE(PortAccepts(asfPort));
}

TEST_F(CaptureFailure, AnyOtherFailureNamesThePlatformsText) {
    form.bt_preview->click();
    ASSERT_TRUE(form.Capture().Previewing()) << desktop.Errors().at(0);
    GstElement* source = VideoSourceElement(form);
    ASSERT_TRUE(source);
    FailSource(source, GST_CORE_ERROR, GST_CORE_ERROR_FAILED);
    EXPECT_TRUE(PumpUntil([&] { return !form.Capture().Previewing(); }, 5000));
    ExpectStoppedWith("A run-time error occurred: the preview stopped; start again.",
                      form.sh_preview);
    // The window works on.
    desktop.ClearErrors();
    form.bt_preview->click();
    EXPECT_TRUE(form.Capture().Previewing());
    form.bt_preview->click();
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(CaptureFailure, AStopTheWriterDoesNotConfirmNamesTheFile) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kx_app_" + std::to_string(getpid()) + "_unconfirmed.avi"))
                                 .string();
    form.ed_recfile->setText(QString::fromStdString(path));
    form.bt_record->click();
    ASSERT_TRUE(form.Capture().Recording()) << desktop.Errors().at(0);
    // The file writer never sees the end of the stream, so it cannot confirm it.
    GstElement* source = VideoSourceElement(form);
    ASSERT_TRUE(source);
    GstElement* pipeline = GST_ELEMENT(gst_element_get_parent(gst_element_get_parent(source)));
    ASSERT_TRUE(pipeline);
    GstElement* sink = FindByFactory(pipeline, "filesink");
    gst_object_unref(pipeline);
    ASSERT_TRUE(sink);
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, DropEndOfStream, nullptr, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    form.bt_record->click();
    EXPECT_FALSE(form.Capture().Recording());
    EXPECT_EQ(form.StatusBar->PanelText(0),
              "\"" + path + "\" may be incomplete: its end was not confirmed in time.");
    EXPECT_EQ(form.sh_record->BrushColor(), kRed);
    std::filesystem::remove(path);
}

} // namespace
