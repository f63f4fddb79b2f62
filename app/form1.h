// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCursor>
#include <QPersistentModelIndex>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "app/services.h"
#include "app/widgets.h"
#include "convert/conversion.h"
#include "filelist/filelist.h"
#include "imaging/imagesource.h"
#include "platform/skincontrol.h"

class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTemporaryDir;

namespace pictolio {

// The main window.
class Form1 : public QWidget, private FileListEvents {
    Q_OBJECT
public:
    // The main window's mouse pointer codes.
    enum Pointer { Default = 0, Hourglass = 11, Custom = 99 };

    Form1(Services services, AppConfig config, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up, before the window first shows.
    void Form_Load();

    int mousePointer() const { return m_mousePointer; }
    void setMousePointer(int code);
    bool isBusy() const { return m_mousePointer == Hourglass; }

    // Handlers.
    void PushButton1_Click();  // Add JPG File(s)
    void PushButton2_Click();  // Start Converting
    void PushButton3_Click();  // Add All File(s) In Folder
    void PushButton4_Click();  // Move Up
    void PushButton5_Click();  // Move Down
    void PushButton6_Click();  // Clear List
    void PushButton7_Click();  // Load Sample/Example Files
    void PushButton8_Click();  // Help
    void PushButton9_Click();  // browse for the output folder

    // Adds files and folders as a drop on the list does (the command line, a later start).
    void openPaths(const QStringList& paths);

    // Undoes or redoes the last change to the list's rows; refused, like every edit of the
    // list, while the hourglass shows.
    void undoListEdit();
    void redoListEdit();
    class ListHistory& listHistory() { return *m_history; }

    // Turns the selected rows' pictures by quarter turns clockwise (negative: anticlockwise):
    // Rotate Right (Ctrl+R) and Rotate Left (Ctrl+L), in the window and the preview.
    void rotateSelected(int quarterTurns);

    // Opens a large preview of the list's selected picture (Space on the list).
    void showPreview();
    class Thumbnailer& thumbnailer() { return *m_thumbnails; }

    // Opens the PDF printer's preferences window over the main window.
    void showPrinterPreferences();

    // A conversion run is under way.
    bool IsConverting = false;
    // The rows of the run that did not load as pictures, each after "\r\n".
    QString InvalidPictures;

    // A mouse button is held over the list.
    bool DragActive = false;
    // The row that holds the path being dragged; invalid once that row is gone.
    QPersistentModelIndex DraggedRow;

    // Controls, by their names (the window's saved settings and its error reports use them),
    // each with its role.
    FileList* ListView1;        // the list of pictures
    QPushButton* PushButton1;   // "Add JPG File(s)": the open-file dialog
    QPushButton* PushButton2;   // "Start Converting"
    QPushButton* PushButton3;   // "Add All File(s) In Folder": the folder scan
    QPushButton* PushButton4;   // "Move Up"
    QPushButton* PushButton5;   // "Move Down"
    QPushButton* PushButton6;   // "Clear List"
    QPushButton* PushButton7;   // "Load Sample/Example Files"
    QPushButton* PushButton8;   // "Help"
    QPushButton* PushButton9;   // "...": choose the output folder
    QGroupBox* Frame1;          // conversion mode: one PDF per picture or one joined PDF
    QGroupBox* Frame2;          // picture size: own size or stretched over the page
    QGroupBox* Frame5;          // where the PDFs go
    QFrame* Frame3;             // the output folder's field and button (no caption, no border)
    QRadioButton* Option1;      // one PDF per picture
    QRadioButton* Option2;      // all pictures joined into one PDF
    QRadioButton* Option3;      // stretched over the printable page
    QRadioButton* Option4;      // at the picture's own size
    QRadioButton* Option5;      // into the folder in Text1
    QRadioButton* Option6;      // beside each picture
    QLineEdit* Text1;           // the output folder
    ProgressBar* ProgressBar1;  // the run's progress, picture by picture
    PictureBox* Creator;        // a picture box the window keeps hidden

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The list's own handlers.
    void listItemClick() override;
    void listMouseDown() override;
    void listMouseMove(const QPoint& position, const QPoint& globalPosition) override;
    void listMouseUp() override;
    void listDblClick() override;
    bool listKeyDown(QKeyEvent* event) override;
    void listDrop(const QStringList& paths) override;
    void addFilesOf(class ErrorTrap& trap, const class FolderScan& scan, const QStringList& folders,
                    const QString& pattern);
    void removeSelectedRow();
    void moveSelectedRow(const QString& location, bool up);
    // The list's own pointer, under the window's hourglass while that shows.
    void showListPointer();

    // The conversion run's pieces.
    bool passIsOver(int i) const;
    bool beginPass(class ErrorTrap& trap, int i, int line, QString* source);
    ConversionJob::Caller conversionCaller(class ErrorTrap& trap, bool joined);
    QString notReadyMessage() const;

    // Seeing the pictures: row tooltips and the preview.
    bool listToolTip(class QHelpEvent* event);
    void thumbnailReady(const QString& path);
    QString rowToolTip(const struct PictureFacts& facts, int turn = 0);
    QString pageDescription(const struct PictureFacts& facts) const;

    void buildControls();
    void placeControls();
    void connectControls();
    void addMenuActions();
    void applySkin();
    void setAppTitle();
    void randomSiteVisit();
    // Sets an option button as the program does: turning one on runs its click handler.
    void setOption(QRadioButton* option, bool on);
    void optionPair12Clicked();
    void optionPair34Clicked();
    void optionPair56Clicked();
    void text1Changed();
    // A setting that could not be saved by a handler without an error trap: said once.
    void saveQuietly(const QString& key, const QString& value);

    std::unique_ptr<class ListHistory> m_history;
    std::unique_ptr<class Thumbnailer> m_thumbnails;
    QString m_toolTipPath;  // the row whose tooltip shows
    int m_toolTipTurn = 0;  // and its turn
    std::unique_ptr<QTemporaryDir> m_turnedThumbnails;  // thumbnails of turned rows, for their tooltips
    QRect m_toolTipRect;
    int m_dragNumber = 0;
    Services m_services;
    AppConfig m_config;
    SkinControl m_skin;
    int m_mousePointer = Default;
    std::optional<QCursor> m_customCursor;
    std::optional<QCursor> m_listPointer;  // none: the list's default
    int m_scaleMode = 1;  // twips until start-up ends, then pixels (3)
    QString m_lastOutputFolder;
    bool m_toldSettingsFailed = false;
    bool m_unloading = false;    // the window was closed: a run stops where it is
    bool m_stopping = false;     // the user stopped the run: it ends after the PDF under way

};

}  // namespace pictolio
