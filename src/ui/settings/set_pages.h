// The pages of the settings window, in tree order: basic, functions,
// assistant, recording, hotspot, download, file share, about.
#pragma once

#include "ui/settings/settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <string>

namespace ui::widgets {
class CImageStatic;
class CQRStatic;
}

namespace ui::settings {

// Name of the PC, bound address, connection state, classroom server address
// of the sibling client, and the connect code.
class SetMainWnd : public SettingsPage {
public:
    static constexpr int kStatusRefreshMs = 1500;
    SetMainWnd(SettingsDeps& deps, SetWnd* window);

    // One entry per adapter address; the bound one selected.
    void refillBindList();
    // The connection line and the disconnect button (timer 100 runs it).
    void refreshStatus();
    // The bind list's choice of entry `index` (as a user choice).
    void chooseBindEntry(int index);
    // The name box: typed text, and leaving it.
    void nameEdited(const QString& text);
    void nameLeft();
    void useComputerName();

    QLineEdit* nameBox = nullptr;        // 1002
    QPushButton* computerNameButton = nullptr;  // 1003
    QComboBox* bindList = nullptr;       // 1004
    QLabel* statusLine = nullptr;        // 1005
    QPushButton* disconnectButton = nullptr;  // 1006
    QLineEdit* classroomServerBox = nullptr;  // 1049
    widgets::CQRStatic* code = nullptr;  // 1007
    QLabel* productLabel = nullptr;      // 1008
    QLabel* scanHint = nullptr;          // 1011
    QLabel* helpLink = nullptr;          // 1010
    QTimer statusTimer;                  // 100

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Pen width, live frame rate and quality, document folder, start-up.
class SetFuncWnd : public SettingsPage {
public:
    SetFuncWnd(SettingsDeps& deps, SetWnd* window);
    void restoreDefaults();  // button 1022

    QComboBox* brushBox = nullptr;      // 1013, editable
    QComboBox* frameRateList = nullptr; // 1014
    QComboBox* qualityList = nullptr;   // 1023
    BrowseBox* folderBox = nullptr;     // 1016
    QPushButton* openFolderButton = nullptr;  // 1018
    QCheckBox* autoRunBox = nullptr;    // 1020
    QCheckBox* autoHideBox = nullptr;   // 1021
    QPushButton* defaultsButton = nullptr;    // 1022
};

// Magic mouse (presentation cursor), language, and who may control the PC:
// watching phones only watch, new phones wait for the teacher's approval,
// and the phones the teacher always allows.
class SetFunc2Wnd : public SettingsPage {
public:
    SetFunc2Wnd(SettingsDeps& deps, SetWnd* window);
    // The always-allowed phones as the settings hold them now.
    void refillApproved();
    // Removes the selected phone from the always-allowed list.
    void removeSelectedApproved();

    QCheckBox* magicMouseBox = nullptr;  // 1020
    QComboBox* cursorList = nullptr;     // 1023
    BrowseBox* cursorFileBox = nullptr;  // 1016
    QComboBox* languageList = nullptr;   // 1024
    QCheckBox* watchOnlyBox = nullptr;
    QCheckBox* approvalBox = nullptr;
    QListWidget* approvedList = nullptr;
    QPushButton* removeApprovedButton = nullptr;
};

// Where recordings go, the last recording, and the recording parameters.
class SetRecordWnd : public SettingsPage {
public:
    SetRecordWnd(SettingsDeps& deps, SetWnd* window);

    QLineEdit* folderBox = nullptr;          // 1027
    QPushButton* openFolderButton = nullptr; // 1018
    QPushButton* playLastButton = nullptr;   // 1019
    QComboBox* frameRateList = nullptr;      // 1023
    QComboBox* qualityList = nullptr;        // 1024
    BrowseBox* watermarkBox = nullptr;       // 1017
};

// Opening and closing the virtual hotspot.
class SetVAPWnd : public SettingsPage {
public:
    SetVAPWnd(SettingsDeps& deps, SetWnd* window);
    void openHotspot();   // button 1018
    void closeHotspot();  // button 1019

    QPushButton* openButton = nullptr;   // 1018
    QPushButton* closeButton = nullptr;  // 1019
    QLabel* networkLabel = nullptr;      // 1047
    QLabel* hintLabel = nullptr;         // 1046
};

// Download codes of the phone apps.
class SetDownWnd : public SettingsPage {
public:
    SetDownWnd(SettingsDeps& deps, SetWnd* window);

    widgets::CQRStatic* androidCode = nullptr;  // 1024
    QLabel* androidLabel = nullptr;             // 1054
    widgets::CQRStatic* iosCode = nullptr;      // 1025
    QLabel* iosLabel = nullptr;                 // 1053
};

// One file offered to the tablets' browsers through the helper web server.
class SetShareWnd : public SettingsPage {
public:
    SetShareWnd(SettingsDeps& deps, SetWnd* window);
    // The teacher picked a file: copy, store, show its code.
    void filePicked(const std::string& path);
    // Shows the download address of `path` as the code.
    void publishShare(const std::string& path);

    BrowseBox* fileBox = nullptr;       // 1016
    widgets::CQRStatic* code = nullptr; // 1007
    QLabel* hint = nullptr;
    QLabel* addressLabel = nullptr;
};

// What the product descriptor says, the program's version and the update check.
class SetAboutWnd : public SettingsPage {
public:
    SetAboutWnd(SettingsDeps& deps, SetWnd* window);
    void checkUpdate();  // link 1010

    QLabel* productLabel = nullptr;    // 1008
    QLabel* commentLabel = nullptr;    // 1025
    QLabel* copyrightLabel = nullptr;  // 1033
    QLabel* helpLabel = nullptr;       // 1034
    QLabel* versionLabel = nullptr;    // 1035
    QLabel* webLink = nullptr;         // 1026
    QLabel* updateLink = nullptr;      // 1010
    QLabel* followLabel = nullptr;     // 1043
    widgets::CImageStatic* picture = nullptr;  // 1007
};

}  // namespace ui::settings
