// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form1.h"
#include "app/previewwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTime>
#include <tuple>

#include "appconfig.h"
#include "common/errortrap.h"
#include "common/paths.h"
#include "app/listhistory.h"
#include "pictures/thumbnails.h"
#include "app/preferenceswindow.h"
#include "pdfwriter/driver.h"
#include "platform/registry.h"
#include "convert/pdfprinter.h"
#include "filelist/filelist.h"
#include "platform/cursors.h"
#include "platform/filesystem.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

namespace pictolio {

namespace {

const QString caption = QStringLiteral("Pictolio Software");
const QString loadLocation = QStringLiteral("in Jovemark2021/08/31.Form1.Form_Load ");

// Positions are designed in twips; a pixel is 15 twips.
QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

}  // namespace

AppConfig AppConfig::defaults(const QString& programFolder) {
    AppConfig c;
    c.programFolder = programFolder;
    c.helpPage = QString::fromUtf8(config::helpPage);
    c.makerSite = QString::fromUtf8(config::makerSite);
    c.random = [] { return QRandomGenerator::global()->generateDouble(); };
    c.outputWaitMs = config::outputWaitSeconds * 1000;
    return c;
}

QString AppConfig::resolvePage(const QString& page) const {
    if (page.contains(QStringLiteral("://")) || page.startsWith(QLatin1Char('/'))) return page;
    return programFolder + QLatin1Char('/') + page;
}

Form1::Form1(Services services, AppConfig config, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_services(services),
      m_config(std::move(config)) {
    buildControls();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    placeControls();
    connectControls();
    addMenuActions();
    // Pointer feedback: every move over these controls.
    setMouseTracking(true);
    installEventFilter(this);
    for (QWidget* w : std::initializer_list<QWidget*>{
             PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6,
             PushButton7, PushButton8, PushButton9, Frame1, Frame2, Frame3, Frame5, Option1,
             Option2, Option3, Option4, Text1}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

// The controls where the design puts them, with its captions, fonts and first choices.
void Form1::placeControls() {
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(8040 / 15, 9420 / 15);
    // Sizes in pixels, as designed at 96 dots per inch (8.25, 9 and 11.25 points), so the
    // captions keep fitting the controls' fixed sizes whatever the desktop's font settings.
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(11);
    setFont(font);

    const auto button = [this](const char* name, const char* text, QWidget* parent, QRect geometry) {
        auto* b = new PushButton(QString::fromUtf8(text), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        QFont f = b->font();
        f.setPixelSize(15);
        b->setFont(f);
        return b;
    };
    const auto frame = [this](const char* name, const char* text, QRect geometry) {
        auto* g = new QGroupBox(QString::fromUtf8(text), this);
        g->setObjectName(QString::fromLatin1(name));
        g->setGeometry(geometry);
        return g;
    };
    const auto option = [](const char* name, const char* text, QWidget* parent, QRect geometry) {
        auto* o = new QRadioButton(QString::fromUtf8(text), parent);
        o->setObjectName(QString::fromLatin1(name));
        o->setGeometry(geometry);
        return o;
    };

    PushButton8 = button("PushButton8", "Help", this, twips(120, 120, 7800, 405));
    ListView1 = new FileList(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twips(120, 630, 6840, 2535));
    QFont listFont = ListView1->font();
    listFont.setPixelSize(12);
    ListView1->setFont(listFont);
    ListView1->setToolTip(QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move | line to right and out "
        "of window to reveal full names."));
    ListView1->setAccessibleName(QStringLiteral("JPG File(s)"));
    PushButton4 = button("PushButton4", "Move Up", this, twips(7080, 630, 840, 1200));
    PushButton5 = button("PushButton5", "Move Down", this, twips(7080, 1950, 840, 1200));
    PushButton1 = button("PushButton1", "Add JPG File(s)", this, twips(120, 3250, 3840, 405));
    PushButton3 = button("PushButton3", "Add All File(s) In Folder", this, twips(4080, 3250, 3840, 405));
    PushButton6 = button("PushButton6", "Clear List", this, twips(120, 3760, 3840, 405));
    PushButton7 = button("PushButton7", "Load Sample/Example Files", this, twips(4080, 3760, 3840, 405));
    Frame1 = frame("Frame1", "Conversion Options", twips(120, 4220, 7800, 1050));
    Option1 = option("Option1", "Convert each JPG to a PDF", Frame1, twips(240, 300, 2940, 240));
    Option2 = option("Option2", "Join all JPG files and convert to one PDF", Frame1, twips(240, 650, 5145, 240));
    Frame2 = frame("Frame2", "Height and Width Options", twips(120, 5330, 7800, 1050));
    Option4 = option("Option4", "Convert to PDF and keep original height and width", Frame2, twips(240, 300, 5460, 240));
    Option3 = option("Option3", "Convert to PDF and stretch height and width to fit PDF page", Frame2, twips(240, 650, 5985, 240));
    Frame5 = frame("Frame5", "Save Option", twips(120, 6435, 7800, 1815));
    Option5 = option("Option5", "Save results to this folder:", Frame5, twips(240, 300, 3615, 255));
    Frame3 = new QFrame(Frame5);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    Frame3->setGeometry(twips(480, 510, 6840, 810));
    Text1 = new QLineEdit(Frame3);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(240, 300, 5670, 345));
    Text1->setAccessibleName(QStringLiteral("Save results to this folder:"));
    PushButton9 = button("PushButton9", "...", Frame3, twips(6000, 300, 600, 345));
    PushButton9->setAccessibleName(QStringLiteral("Browse for the output folder"));
    Option6 = option("Option6", "Save results in folder of original file", Frame5, twips(240, 1410, 3615, 255));
    PushButton2 = button("PushButton2", "Start Converting", this, twips(120, 8370, 7800, 405));
    ProgressBar1 = new ProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twips(120, 8890, 7800, 405));
    ProgressBar1->setBarText(QStringLiteral("Progress Bar"));
    ProgressBar1->setAccessibleName(QStringLiteral("Progress Bar"));
    Creator = new PictureBox(this);
    Creator->setObjectName(QStringLiteral("Creator"));
    Creator->setGeometry(twips(8280, 210, 4215, 2685));
    Creator->hide();

    // As designed: the first option of each pair on, white backgrounds.
    Option1->setChecked(true);
    Option4->setChecked(true);
    Option5->setChecked(true);
    for (QWidget* w : std::initializer_list<QWidget*>{this, Frame1, Frame2, Frame5, Frame3, Option1,
                                                      Option2, Option3, Option4, Option5, Option6}) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, Qt::white);
        p.setColor(QPalette::WindowText, Qt::black);  // readable on white in a dark theme too
        w->setPalette(p);
        w->setAutoFillBackground(true);
    }
}

// What each button, option pair and the folder field do.
void Form1::connectControls() {
    ListView1->setEvents(this);
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(PushButton8, &QPushButton::clicked, this, &Form1::PushButton8_Click);
    connect(PushButton9, &QPushButton::clicked, this, &Form1::PushButton9_Click);
    for (QRadioButton* o : {Option1, Option2})
        connect(o, &QRadioButton::toggled, this, [this](bool on) { if (on) optionPair12Clicked(); });
    for (QRadioButton* o : {Option3, Option4})
        connect(o, &QRadioButton::toggled, this, [this](bool on) { if (on) optionPair34Clicked(); });
    for (QRadioButton* o : {Option5, Option6})
        connect(o, &QRadioButton::toggled, this, [this](bool on) { if (on) optionPair56Clicked(); });
    connect(Text1, &QLineEdit::textChanged, this, &Form1::text1Changed);
}

// The context menu's actions and their keys: the printer's preferences, turning pictures, undo
// and redo; and the list's tooltips.
void Form1::addMenuActions() {
    // The PDF printer's preferences: Ctrl+P, or the context menu of the window and of "Start
    // Converting" (the list keeps its right-click to itself).
    auto* preferences = new QAction(QString::fromLatin1(pdfwriter::PdfWriterDriver::printerName) +
                                        QStringLiteral(" Preferences..."), this);
    preferences->setObjectName(QStringLiteral("PrinterPreferences"));
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    preferences->setShortcutContext(Qt::WindowShortcut);
    connect(preferences, &QAction::triggered, this, &Form1::showPrinterPreferences);
    addAction(preferences);

    // Turning the selected rows' pictures, in the same context menu (and in the preview).
    addRotateActions(this, [this](int turns) { rotateSelected(turns); });

    // Tooltips with each row's picture; thumbnails made off this thread.
    m_thumbnails = std::make_unique<Thumbnailer>();
    connect(m_thumbnails.get(), &Thumbnailer::ready, this, &Form1::thumbnailReady);
    ListView1->viewport()->installEventFilter(this);

    // Undo and redo for the list's rows, in the same context menu.
    m_history = std::make_unique<ListHistory>(ListView1);
    const auto historyAction = [this](const char* name, const QString& text, QList<QKeySequence> keys,
                                      void (Form1::*slot)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setEnabled(false);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    QAction* undo = historyAction("UndoListEdit", QStringLiteral("Undo"), QKeySequence::keyBindings(QKeySequence::Undo),
                                  &Form1::undoListEdit);
    QAction* redo = historyAction("RedoListEdit", QStringLiteral("Redo"),
                                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
                                  &Form1::redoListEdit);
    QUndoStack& stack = m_history->stack();
    connect(&stack, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
    connect(&stack, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
    connect(&stack, &QUndoStack::undoTextChanged, undo, [undo](const QString& t) {
        undo->setText(t.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo ") + t);
    });
    connect(&stack, &QUndoStack::redoTextChanged, redo, [redo](const QString& t) {
        redo->setText(t.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo ") + t);
    });
    setContextMenuPolicy(Qt::ActionsContextMenu);
    ListView1->setContextMenuPolicy(Qt::PreventContextMenu);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched == ListView1->viewport())
        return listToolTip(static_cast<QHelpEvent*>(event));
    if (event->type() == QEvent::MouseMove) {
        // Each control answers for its own area only: a move that a child did not take comes
        // on to its parent, and must not count there as a move over the parent.
        auto* widget = static_cast<QWidget*>(watched);
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (!widget->childAt(at) && !isBusy())
            setMousePointer(qobject_cast<QPushButton*>(watched) ? Custom : Default);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::setMousePointer(int code) {
    const bool wasBusy = isBusy();
    m_mousePointer = code;
    if (wasBusy != isBusy()) showListPointer();
    switch (code) {
        case Hourglass:
            setCursor(Qt::WaitCursor);
            Text1->setCursor(Qt::WaitCursor);
            break;
        case Custom:
            // Without the hand file, the window's designed pointer.
            if (m_customCursor)
                setCursor(*m_customCursor);
            else
                unsetCursor();
            Text1->setCursor(Qt::IBeamCursor);
            break;
        default:
            unsetCursor();
            Text1->setCursor(Qt::IBeamCursor);
            break;
    }
}

void Form1::undoListEdit() {
    if (!isBusy()) m_history->stack().undo();
}

void Form1::redoListEdit() {
    if (!isBusy()) m_history->stack().redo();
}

void Form1::showPrinterPreferences() {
    // The list's selected picture, or the first sample, previewed on the page.
    QString picture = ListView1->selectedPosition() > 0 ? ListView1->rowText(ListView1->selectedPosition()) : QString();
    if (picture.isEmpty()) {
        const QDir samples(m_config.programFolder + QStringLiteral("/Samples"));
        const QStringList names = samples.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
        if (!names.isEmpty()) picture = samples.filePath(names.first());
    }
    auto* window = new PreferencesWindow(m_services.registry.store(), m_services.decoder, picture, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->open();
}

void Form1::closeEvent(QCloseEvent* event) {
    // The program ends: a run under way stops at its next look at the events.
    m_unloading = true;
    event->accept();
    QCoreApplication::quit();
}

void Form1::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape || !IsConverting) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A run stops after the PDF under way, once the user says so.
    if (m_stopping) return;
    m_stopping = m_services.dialogs.message(QStringLiteral("Stop converting? The PDF file under way is finished "
                                                           "first (one PDF of all the pictures is not made)."),
                                            MessageButtons::YesNo) == MessageAnswer::Yes;
}

// --- start-up ---

void Form1::Form_Load() {
    ErrorTrap trap(m_services.dialogs, loadLocation);
    ProgramSettings settings(m_services.settings);
    const QString folder = m_config.programFolder;

    trap.at(100, [&] { applySkin(); });
    trap.at(102, [&] { setWindowTitle(caption); });
    trap.at(102, [&] { setWindowIcon(QIcon(folder + QStringLiteral("/pictolio.png"))); });
    trap.at(102, [&] { setAppTitle(); });
    bool handCursor = false;
    trap.at(104, [&] { handCursor = pathExists(folder + QStringLiteral("/HAND-M.CUR")); });
    if (handCursor) {
        trap.at(106, [&] {
            m_customCursor = loadCursorFile(folder + QStringLiteral("/HAND-M.CUR"));
            if (!m_customCursor) throw AppError(ErrorCode::InvalidArgument, QStringLiteral("Invalid picture"));
        });
    }
    trap.at(108, [&] { randomSiteVisit(); });
    trap.at(128, [&] { setOption(Option1, settings.getBoolean(QStringLiteral("Option1"), 1)); });
    trap.at(130, [&] { setOption(Option2, settings.getBoolean(QStringLiteral("Option2"), 0)); });
    trap.at(132, [&] { setOption(Option4, settings.getBoolean(QStringLiteral("Option4"), 1)); });
    trap.at(134, [&] { setOption(Option3, settings.getBoolean(QStringLiteral("Option3"), 0)); });
    trap.at(136, [&] { ListView1->addColumn(QStringLiteral("JPG File(s)")); });
    trap.at(138, [&] { ListView1->setColumnWidth(0, 6500 / 15); });
    trap.at(140, [&] {
        const QString desktop = getDesktopFolder();
        Text1->setText(settings.get(QStringLiteral("Text1"), desktop));
    });
    trap.at(142, [&] { setOption(Option5, settings.getBoolean(QStringLiteral("Option5"), 1)); });
    trap.at(144, [&] { setOption(Option6, settings.getBoolean(QStringLiteral("Option6"), 0)); });
    bool option5 = false;
    trap.at(146, [&] { option5 = Option5->isChecked(); });
    if (option5)
        trap.at(148, [&] { Frame3->setEnabled(true); });
    else
        trap.at(150, [&] { Frame3->setEnabled(false); });
    trap.at(152, [&] { m_scaleMode = 3; });
    trap.at(154, [&] { pdfprinter::checkPdfPrinter(m_services.printing, m_services.dialogs); });
}

void Form1::applySkin() {
    const QString path = m_config.programFolder + QStringLiteral("/x/o.cjs");
    // As a directory listing of the exact path sees it: a file, neither hidden nor system.
    const std::optional<quint32> a = m_services.files.attributes(path);
    if (!a || (*a & (attr::directory | attr::hidden | attr::system))) return;
    const QColor buttonFace = palette().color(QPalette::Button);
    const QColor buttonText = palette().color(QPalette::ButtonText);
    const auto paint = [&](QWidget* w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, buttonFace);
        p.setColor(QPalette::WindowText, buttonText);
        w->setPalette(p);
    };
    paint(this);
    // Option buttons, check boxes, frames and labels take the colour; other controls keep theirs.
    for (QWidget* w : std::initializer_list<QWidget*>{Frame1, Option1, Option2, Frame2, Option4,
                                                      Option3, Frame5, Option5, Frame3, Option6})
        paint(w);
    m_skin.invoke(2, {path, QString()});
    m_skin.setProperty(1, m_skin.property(1).toInt() | 1);
    m_skin.setProperty(5, true);
    m_skin.setProperty(10, true);
    m_skin.invoke(3, {quint64(winId())});
}

void Form1::setAppTitle() {
    QString title = caption;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0) throw AppError(ErrorCode::InvalidArgument);
        title = title.left(blank);
    } while (title.size() > 40);
    m_services.dialogs.setApplicationTitle(title);
    QCoreApplication::setApplicationName(title);
}

void Form1::randomSiteVisit() {
    const int r = int(m_config.random() * 100) + 1;
    if (r == 7) m_services.shell.open(m_config.resolvePage(m_config.makerSite));
}

void Form1::setOption(QRadioButton* option, bool on) {
    if (on) {
        option->setChecked(true);
        return;
    }
    // Turning a button off does not turn its partner on: with edited settings both may be off.
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

// --- options and output folder ---

void Form1::saveQuietly(const QString& key, const QString& value) {
    try {
        ProgramSettings(m_services.settings).save(key, value);
    } catch (const AppError& e) {
        // These handlers run at every keystroke: say it once, not at every change.
        if (m_toldSettingsFailed) return;
        m_toldSettingsFailed = true;
        m_services.dialogs.message(
            QStringLiteral("Your choices cannot be saved for the next start of Pictolio:\r\n") +
                e.description(),
            MessageButtons::Ok, MessageIcon::Warning);
    }
}

void Form1::optionPair12Clicked() {
    saveQuietly(QStringLiteral("Option1"), booleanToText(Option1->isChecked()));
    saveQuietly(QStringLiteral("Option2"), booleanToText(Option2->isChecked()));
}

void Form1::optionPair34Clicked() {
    saveQuietly(QStringLiteral("Option4"), booleanToText(Option4->isChecked()));
    saveQuietly(QStringLiteral("Option3"), booleanToText(Option3->isChecked()));
}

void Form1::optionPair56Clicked() {
    saveQuietly(QStringLiteral("Option5"), booleanToText(Option5->isChecked()));
    saveQuietly(QStringLiteral("Option6"), booleanToText(Option6->isChecked()));
    Frame3->setEnabled(Option5->isChecked());
}

void Form1::text1Changed() { saveQuietly(QStringLiteral("Text1"), Text1->text()); }

void Form1::PushButton9_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton9_Click "));
    ProgramSettings settings(m_services.settings);
    QString folder;
    trap.at(100, [&] { m_lastOutputFolder = settings.get(QStringLiteral("LastFolderDot"), QString()); });
    trap.at(100, [&] {
        folder = m_services.dialogs.browseForFolder(QStringLiteral("Please select folder:"), m_lastOutputFolder);
    });
    bool cancelled = false;
    trap.at(102, [&] { cancelled = folder.isEmpty(); });
    if (cancelled) return;
    trap.at(104, [&] { m_lastOutputFolder = folder; });
    trap.at(104, [&] { settings.save(QStringLiteral("LastFolderDot"), folder); });
    const QChar sep = pathSeparator();
    bool withoutSeparator = false;
    trap.at(104, [&] { withoutSeparator = !folder.endsWith(sep); });
    if (withoutSeparator)
        trap.at(106, [&] { Text1->setText(folder + sep); });
    else
        trap.at(108, [&] { Text1->setText(folder); });
}

// --- help ---

void Form1::PushButton8_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton8_Click "));
    trap.at(100, [&] {
        m_services.dialogs.message(
            QStringLiteral("You must have Acrobat Reader (or Acrobat) installed to use this software."));
    });
    trap.at(102, [&] {
        const QString page = m_config.resolvePage(m_config.helpPage);
        if (!m_services.shell.open(QLatin1Char('"') + page + QLatin1Char('"')))
            m_services.dialogs.message(QStringLiteral("No program could be found to open the help page %1. "
                                                      "Open it in a web browser.")
                                           .arg(QDir::toNativeSeparators(page)));
    });
}

}  // namespace pictolio
