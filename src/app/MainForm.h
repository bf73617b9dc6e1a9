#pragma once
// TMainForm: the main window and the program's only controller. It owns the
// capture graph and its components, the HTTP server of the landing page and
// the skinned menu; every user action arrives here as an event handler on
// the UI thread.
#include "app/LandingPage.h"
#include "app/SkinMenu.h"
#include "app/Timer.h"
#include "common/StringList.h"
#include "http/NetHTTPServer.h"
#include "http/NetThreadMgrDefault.h"
#include "media/ASFWriter.h"
#include "media/EnumMediaType.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SysDevEnum.h"
#include "media/VideoWindow.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;
class QLabel;
class TAboutForm;
class TClickLabel;
class TShape;
class TStatusBar;

class TMainForm : public QWidget {
  public:
    // Builds the window from its description, then runs FormCreate.
    explicit TMainForm(QWidget* parent = nullptr);
    // Runs FormDestroy.
    ~TMainForm() override;

    // The about box the "about" menu shows (created by the program entry).
    void SetAboutForm(TAboutForm* form) { AboutForm = form; }

    // Visible controls (children of the window).
    TSkinMenuBar* MenuBar1 = nullptr;
    TShape* sh_background = nullptr;
    TVideoWindow* VideoWindow = nullptr;
    TShape* sh_preview = nullptr;
    QPushButton* bt_preview = nullptr;
    TShape* sh_broadcast = nullptr;
    QPushButton* bt_broadcast = nullptr;
    TShape* sh_record = nullptr;
    QPushButton* bt_record = nullptr;
    QLabel* lb_asfport = nullptr;
    QLineEdit* ed_asfport = nullptr;
    QLabel* lb_internalport = nullptr;
    QLineEdit* ed_internalport = nullptr;
    QLabel* lb_width = nullptr;
    QLineEdit* ed_width = nullptr;
    QLabel* lb_height = nullptr;
    QLineEdit* ed_height = nullptr;
    QLabel* lb_ip = nullptr;
    QComboBox* cb_ip = nullptr;
    QLabel* lb_recfile = nullptr;
    QLineEdit* ed_recfile = nullptr;
    TClickLabel* lb_quillon = nullptr;
    TStatusBar* StatusBar = nullptr;

    // Non-visual components. The landing-page copy is declared before the
    // server so that it outlives the server's peer threads.
    TLandingPageSource LandingTexts;
    TFilterGraph CaptureGraph{"CaptureGraph"};
    TFilter VideoSourceFilter{"VideoSourceFilter"};
    TFilter AudioSourceFilter{"AudioSourceFilter"};
    TASFWriter brimASF{"brimASF"};
    TTimer Timer;
    TNetThreadMgrDefault NetThreadManager;
    TNetHTTPServer httpServer;
    TBlueSkin BlueSkin1;
    TSkinMainMenu MainMenu1;

    // Menu items (owned by MainMenu1).
    TSkinMenuItem* file1 = nullptr;
    TSkinMenuItem* fileexit1 = nullptr;
    TSkinMenuItem* filewatch1 = nullptr; // the watch page; enabled while broadcasting
    TSkinMenuItem* video1 = nullptr;
    TSkinMenuItem* videoconnect1 = nullptr;
    TSkinMenuItem* videoformats1 = nullptr;
    TSkinMenuItem* audio1 = nullptr;
    TSkinMenuItem* audioconnect1 = nullptr;
    TSkinMenuItem* audioinput1 = nullptr;
    TSkinMenuItem* audioformats1 = nullptr;
    TSkinMenuItem* about2 = nullptr;
    TSkinMenuItem* aboutabout1 = nullptr;

    // Window state (UI thread only; the landing page reads LandingTexts).
    int32_t SelectedVideoDevice = -1;
    int32_t SelectedVideoFormat = -1;
    int32_t SelectedAudioDevice = -1;
    int32_t SelectedAudioFormat = -1;
    int32_t SelectedAudioInput = -1;
    bool Broadcasting = false;
    bool Recording = false;
    bool Previewing = false;
    std::unique_ptr<TSysDevEnum> DeviceEnumerator;
    std::unique_ptr<TEnumMediaType> VideoFormats;
    std::unique_ptr<TEnumMediaType> AudioFormats;
    TStringList* LocalAddresses = nullptr; // the address module's shared list, not owned

    // Event handlers (the sender is the control or menu item that fired).
    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void VideoDeviceClick(QObject* Sender);
    void AudioDeviceClick(QObject* Sender);
    void VideoFormatClick(QObject* Sender);
    void AudioFormatClick(QObject* Sender);
    void AudioInputClick(QObject* Sender);
    void bt_previewClick(QObject* Sender);
    void bt_broadcastClick(QObject* Sender);
    void bt_recordClick(QObject* Sender);
    void TimerTimer(QObject* Sender);
    void httpServerCommandGet(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo,
                              TNetHTTPResponseInfo& AResponseInfo);
    void lb_quillonClick(QObject* Sender);
    void aboutabout1Click(QObject* Sender);
    void fileexit1Click(QObject* Sender);
    void filewatch1Click(QObject* Sender);

    void StartPreview();
    void StartBroadcast();
    void StartRecord();
    void StopCapture();

    // The HTTP port the edit box asks for: 8081 when the text is not a
    // number; a number outside 1..65535 raises.
    int RequestedHttpPort() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void BuildMenu();
    void WireEvents();
    // Makes a menu item whose clicks go to handler through the error box.
    std::unique_ptr<TSkinMenuItem> MakeItem(const std::string& name, const std::string& caption,
                                            int tag, void (TMainForm::*handler)(QObject*));
    // A start or a device choice begins from an inactive graph, also after
    // an earlier start failed half-way and left the graph active.
    void ResetGraph();
    // Puts the chosen device into the (inactive) capture graph and activates
    // it, so that its pins can be read; the caller deactivates it again.
    void OpenSourceDevice(TFilter& source, const GUID& category, int device);
    void ApplyChoices();
    // Every start: a fresh active graph with the chosen devices and formats;
    // returns the graph's builder for wiring the streams.
    ComPtr<ICaptureGraphBuilder2> PrepareGraph();
    // Shows the chosen camera in the video window (nothing without a camera).
    void RenderPreview(ICaptureGraphBuilder2* builder);
    void LockControls(QPushButton* running);
    void CheckOnly(TSkinMenuItem* submenu, int index);

    TAboutForm* AboutForm = nullptr;
    bool destroyed_ = false;
};
