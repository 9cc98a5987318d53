// The main window: its widgets, the status display the engine writes on, and the date panel.
#include "Form1.h"

#include "ActivityInd.h"
#include "AutoSizeLabel.h"
#include "ClassicLook.h"
#include "DeviceFolderWatch.h"
#include "FirmwareSelection.h"
#include "SerialControl.h"
#include "Twips.h"
#include "UpdateEngine.h"

#include <QApplication>
#include <QDate>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTime>
#include <QTimer>
#include <QToolBar>

using classic::arial;

Form1::Form1(Form1Seams seams, QWidget* parent)
    : QMainWindow(parent)
    , io(std::move(seams))
    , clock(*io.clock)
    , events(*io.events)
    , timer(*io.timer)
    , serial(*io.serial)
    , portProbe(*io.portProbe)
    , ports(*io.ports)
    , deviceListing(*io.deviceListing)
    , prompts(*io.prompts)
    , imageChooser(*io.imageChooser)
    , addFilePrompts(*io.addFilePrompts)
    , passwordPrompt(*io.passwordPrompt) {
    buildWidgets();

    const EngineSeams engineSeams{serial,
                                  clock,
                                  events,
                                  timer,
                                  *this,
                                  prompts,
                                  [this](const QString& pattern) {
                                      return SelectFirmwareFile(io.programFolder, pattern, ExpertMode,
                                                                imageChooser);
                                  },
                                  io.programFolder};
    updateEngine = std::make_unique<UpdateEngine>(engineSeams);
    connect(&serial, &SerialControl::lineLost, this, &Form1::showLineLost);

    Form_Initialize();
}

Form1::~Form1() {
    qApp->removeEventFilter(this);
    if (busyPointer)
        QGuiApplication::restoreOverrideCursor();
}

void Form1::buildWidgets() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestrune Update Utility"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.xpm")));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips::toPixels(12390), twips::toPixels(4515));
    setCentralWidget(client);

    buildToolbar();
    Toolbar1->setParent(client);
    Toolbar1->setGeometry(0, 0, client->width(), twips::toPixels(870));

    Frame1 = new QFrame(client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Frame1->setGeometry(twips::rect(120, 960, 11415, 615));

    Label_Type = new QLabel(QStringLiteral("File Title:"), Frame1);
    Label_Type->setObjectName(QStringLiteral("Label_Type"));
    Label_Type->setFont(arial(9.75, true));
    Label_Type->setGeometry(twips::rect(360, 225, 975, 255));

    Text_Filename = new QLineEdit(Frame1);
    Text_Filename->setObjectName(QStringLiteral("Text_Filename"));
    Text_Filename->setGeometry(twips::rect(1440, 160, 9855, 375));
    // It shows the chosen path and nothing reads it back; read-only, it has no cursor blinking
    // twice a second in a window that is otherwise asleep.
    Text_Filename->setReadOnly(true);

    Activity1 = new ActivityInd(client);
    Activity1->setObjectName(QStringLiteral("Activity1"));
    Activity1->setGeometry(twips::rect(120, 1860, 1695, 1575));
    Activity1->SetStyle(3);
    Activity1->SetForeColor(Colours::Green);

    auto makeAutoLabel = [client](const char* name, int left, int top, QFont font) {
        auto* label = new AutoSizeLabel(client);
        label->setObjectName(QLatin1String(name));
        label->setFont(font);
        label->move(twips::toPixels(left), twips::toPixels(top));
        label->setCaption(QString());
        return label;
    };
    Label_title = makeAutoLabel("Label_title", 1920, 1920, arial(18, true));
    Label_englisch = makeAutoLabel("Label_englisch", 1920, 2460, arial(12, false));
    Label_deutsch = makeAutoLabel("Label_deutsch", 1920, 2880, arial(12, false));
    QPalette black = Label_title->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label_title->setPalette(black);

    lblZeit = new QLabel(QStringLiteral("0"), client);
    lblZeit->setObjectName(QStringLiteral("lblZeit"));
    lblZeit->setFont(arial(48, true));
    lblZeit->setGeometry(twips::rect(7020, 2040, 4455, 1095));

    ProgressBar1 = new QProgressBar(client);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twips::rect(120, 3720, 10695, 375));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    // The classic bar of blocks the operators know; the block bar also paints at a fraction of
    // the cost of the default style's gradients, and it repaints after every block sent.
    if (QStyle* classicBar = QStyleFactory::create(QStringLiteral("Windows"))) {
        classicBar->setParent(ProgressBar1);
        ProgressBar1->setStyle(classicBar);
    }

    Label1 = new QLabel(client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(arial(14.25, true));
    Label1->setGeometry(twips::rect(10980, 3720, 1215, 375));

    buildStatusBar();
    StatusBar1->setParent(client);
    StatusBar1->setGeometry(twips::rect(0, 4140, 12384, 372));

    buildMenu();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
}

void Form1::buildToolbar() {
    Toolbar1 = new QToolBar(QStringLiteral("Toolbar1"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setIconSize(QSize(32, 32));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    // The pictures of ImageList1, in its order; image 3 is not used by any button.
    const QIcon images[] = {
        QIcon(QStringLiteral(":/icons/addfile.xpm")), QIcon(QStringLiteral(":/icons/update.xpm")),
        QIcon(QStringLiteral(":/icons/spare.xpm")), QIcon(QStringLiteral(":/icons/exit.xpm")),
        QIcon(QStringLiteral(":/icons/expert.xpm"))};

    buttons.resize(8);
    auto addButton = [this](int index, const QString& caption, const QIcon& icon, bool visible) {
        QAction* action = Toolbar1->addAction(icon, caption);
        action->setObjectName(QStringLiteral("Toolbar1_%1").arg(index));
        action->setVisible(visible);
        connect(action, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
        buttons[index] = action;
    };
    // Two zero-width placeholders that show nothing; they keep the command buttons at 3 to 7.
    addButton(Placeholder1, QStringLiteral("Module A"), QIcon(), false);
    addButton(Placeholder2, QStringLiteral("Module B"), QIcon(), false);
    addButton(AddFile, QStringLiteral("Add File"), images[0], false);
    addButton(Update, QStringLiteral("Update"), images[1], true);
    addButton(Expert, QStringLiteral("Expert"), images[4], true);
    buttons[Separator] = Toolbar1->addSeparator();
    buttons[Separator]->setObjectName(QStringLiteral("Toolbar1_6"));
    addButton(Exit, QStringLiteral("Exit"), images[3], true);
}

void Form1::buildMenu() {
    Comport = menuBar()->addMenu(QStringLiteral("Com Port"));
    Comport->setObjectName(QStringLiteral("Comport"));
    // Each port's tooltip names the device behind it.
    Comport->setToolTipsVisible(true);
    com.resize(10);
    for (int i = 0; i <= 9; ++i) {
        const QString caption = i == 0 ? QStringLiteral("No Com Ports") : QStringLiteral("Com%1").arg(i);
        QAction* item = Comport->addAction(caption);
        item->setObjectName(QStringLiteral("com%1").arg(i));
        item->setCheckable(true);
        item->setChecked(false);
        connect(item, &QAction::triggered, this, [this, item, i] {
            // The mark is the selection's business, not the menu's.
            item->setChecked(!item->isChecked());
            com_Click(qint16(i));
        });
        com[i] = item;
    }
    // The last moment to take up a device the watch has not told of yet.
    connect(Comport, &QMenu::aboutToShow, this, &Form1::followHardware);
}

void Form1::buildStatusBar() {
    StatusBar1 = new QWidget;
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    const QFont font = arial(9.75, true);
    const int widths[] = {1400, 9855, 810};
    panels.resize(4);
    int left = 0;
    for (int panel = 1; panel <= 3; ++panel) {
        auto* label = new QLabel(StatusBar1);
        label->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(panel));
        label->setFont(font);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        const int width = twips::toPixels(widths[panel - 1]);
        label->setGeometry(left, 0, width, twips::toPixels(372));
        left += width;
        panels[panel] = label;
    }
    refreshDate();
}

// The date panel follows the calendar: it is refreshed just after every midnight.
void Form1::refreshDate() {
    panels[1]->setText(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    const int msToMidnight = QTime::currentTime().msecsTo(QTime(23, 59, 59, 999)) + 50;
    QTimer::singleShot(qMax(1000, msToMidnight), this, &Form1::refreshDate);
}

QString Form1::statusPanelText(int panel) const {
    return panels.value(panel) ? panels[panel]->text() : QString();
}

void Form1::showState(DisplayState state) {
    struct Texts {
        const char* title;
        const char* english;
        const char* german;
        int colour; // -1: the headline keeps its colour
    };
    static const Texts table[] = {
        {"Ready", "To start update procedure press Update button",
         "Um den Update-Vorgang zu starten, Update Button drücken", int(Colours::Black)},
        {"Checking", "Checking module type for update, please wait",
         "Prüfe Modultyp für Update-Vorgang, bitte warten", -1},
        {"Warning", "Please turn setup switch to ON to proceed",
         "Bitte Setup Schalter auf ON stellen, um fortzufahren", -1},
        {"Running", "Update in progress, please wait", "Update wird ausgeführt, bitte warten",
         int(Colours::Red)},
        {"Error", "Update error. Automatical restart, please wait",
         "Update Fehler. Automatischer Neustart, bitte warten", int(Colours::Red)},
        {"Update Successful / Update erfolgreich", "", "", int(Colours::Green)},
    };
    const Texts& texts = table[int(state)];
    const QColor colour = texts.colour >= 0 ? classic::colour(quint32(texts.colour))
                                            : Label_title->palette().color(QPalette::WindowText);
    // The probe loop shows its state again on every pass; what already stands there is not
    // painted again.
    if (Label_title->text() == QString::fromUtf8(texts.title) &&
        Label_englisch->text() == QString::fromUtf8(texts.english) &&
        Label_deutsch->text() == QString::fromUtf8(texts.german) &&
        Label_title->palette().color(QPalette::WindowText) == colour)
        return;
    if (texts.colour >= 0) {
        QPalette palette = Label_title->palette();
        palette.setColor(QPalette::WindowText, classic::colour(quint32(texts.colour)));
        Label_title->setPalette(palette);
    }
    Label_title->setCaption(QString::fromUtf8(texts.title));
    Label_englisch->setCaption(QString::fromUtf8(texts.english));
    Label_deutsch->setCaption(QString::fromUtf8(texts.german));
    Label_title->repaint();
    Label_englisch->repaint();
    Label_deutsch->repaint();
}

void Form1::setStatusText(const QString& text) {
    panels[2]->setText(text);
}

void Form1::setFileName(const QString& path) {
    Text_Filename->setText(path);
}

void Form1::setProgressMax(int max) {
    ProgressBar1->setMaximum(max);
}

void Form1::setProgressValue(int value) {
    ProgressBar1->setValue(value);
}

void Form1::setPercentText(const QString& text) {
    Label1->setText(text);
    Label1->repaint();
}

void Form1::setElapsedText(const QString& text) {
    lblZeit->setText(text);
}

void Form1::setActivityForeColor(quint32 colour) {
    Activity1->SetForeColor(colour);
}

int Form1::activityStep() const {
    return Activity1->Step();
}

void Form1::setActivityStep(int step) {
    Activity1->SetStep(step);
}

// One override cursor, set and cleared as a state, never stacked.
void Form1::setBusyCursor(bool busy) {
    if (busy == busyPointer)
        return;
    busyPointer = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void Form1::beep() {
    QApplication::beep();
}
