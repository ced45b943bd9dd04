// Every window and dialog of the program, opened the way the user opens it, checked as
// the window manager shows it: the window is at least as large as its layout needs, and
// no visible control is squeezed below its smallest size or cut off by its parent.
//
// With VX_SCREENSHOT_DIR set, each window is also saved there as "<name>.png" (with the
// manager's frame) before it is checked; scripts/screenshots runs this test that way.

#include "app/Startup.h"
#include "platform/testinput/WindowManagerProbe.h"
#include "platform/testinput/XTestInput.h"
#include "recording/RecordingPage.h"
#include "recording/UnitRect.h"
#include "recording/UnitToolBar.h"
#include "recording/UnitToolHint.h"
#include "screenshot/ScreenshotPage.h"
#include "state/OutputFile.h"
#include "state/ProgramState.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/UnitLineSpacing.h"
#include "videomaker/UnitLyricsVideoSize.h"
#include "videomaker/UnitMargins.h"
#include "videomaker/UnitNumberOfRows.h"
#include "videomaker/UnitPictureSettings.h"
#include "videomaker/UnitPreviewSetting.h"
#include "videomaker/VideoMakePage.h"
#include "videomaker/VideoMakeSettings.h"
#include "videomaker/VideoProject.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>

namespace {

class WindowLayoutTest;

// One window of the program: its name (the screenshot's file name) and how the user
// opens it. `Open` shows the window and calls `look` with it while it is on the screen;
// the window is closed again when `Open` returns.
struct TWindowCase {
    const char* Name;
    std::function<void(WindowLayoutTest&, const std::function<void(QWidget*)>& look)> Open;
};

std::vector<TWindowCase> WindowCases();

void PrintTo(const TWindowCase& c, std::ostream* os) {
    *os << c.Name;
}

// The smallest size a layout would give `w`: its own minimum where one is set, else its
// minimumSizeHint; nothing in a direction its size policy ignores.
QSize SmallestSize(const QWidget* w) {
    const QSize hint = w->minimumSizeHint();
    const QSizePolicy policy = w->sizePolicy();
    int width = policy.horizontalPolicy() == QSizePolicy::Ignored ? 0 : qMax(hint.width(), 0);
    int height = policy.verticalPolicy() == QSizePolicy::Ignored ? 0 : qMax(hint.height(), 0);
    if (w->minimumWidth() > 0)
        width = w->minimumWidth();
    if (w->minimumHeight() > 0)
        height = w->minimumHeight();
    return QSize(width, height).boundedTo(w->maximumSize());
}

// How a fault names a control: its class, its object name and its text.
QString Describe(const QWidget* w) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        text = button->text();
    QString name = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty())
        name += u' ' + w->objectName();
    if (!text.isEmpty())
        name += QStringLiteral(" \"%1\"").arg(text.left(30));
    return name;
}

// Parts that a compound control sizes and clips itself: the edit of a spin box or of an
// editable combo box, the scroll buttons of a tab bar, the header, scroll bars and
// contents of a list or scroll area.
bool IsInsideACompoundControl(const QWidget* w, const QWidget* window) {
    for (const QWidget* p = w->parentWidget(); p != nullptr && p != window; p = p->parentWidget())
        if (qobject_cast<const QAbstractSpinBox*>(p) != nullptr ||
            qobject_cast<const QComboBox*>(p) != nullptr ||
            qobject_cast<const QTabBar*>(p) != nullptr ||
            qobject_cast<const QAbstractScrollArea*>(p) != nullptr)
            return true;
    return false;
}

// True when a layout of `w`'s parent places `w`.
bool IsInLayout(const QLayout* layout, const QWidget* w) {
    if (layout == nullptr)
        return false;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == w || IsInLayout(item->layout(), w))
            return true;
    }
    return false;
}

// The size a control placed by hand needs to show all of itself: a label its text or
// picture, a button its text beside its indicator or icon, any other control its
// smallest size, though one line of its font inside its frame is tall enough. (The
// style's extra room around a button's text or a box's edit is a preference only a
// layout honours.)
QSize ContentSize(const QWidget* w) {
    if (qobject_cast<const QLabel*>(w) != nullptr)
        return w->minimumSizeHint();
    const QFontMetrics fm = w->fontMetrics();
    const QStyle* style = w->style();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        const auto* tool = qobject_cast<const QToolButton*>(w);
        QString text = tool != nullptr && tool->toolButtonStyle() == Qt::ToolButtonIconOnly &&
                               !tool->icon().isNull()
                           ? QString()
                           : button->text();
        text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
            .remove(u'&')
            .replace(u'\x01', u'&');
        int width = text.isEmpty() ? 0 : fm.horizontalAdvance(text);
        int height = text.isEmpty() ? 0 : fm.height();
        if (!button->icon().isNull()) {
            width += button->iconSize().width() + (text.isEmpty() ? 0 : 4);
            height = qMax(height, button->iconSize().height());
        }
        if (qobject_cast<const QCheckBox*>(w) != nullptr) {
            width += style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                     style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
            height = qMax(height, style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, w));
        } else if (qobject_cast<const QRadioButton*>(w) != nullptr) {
            width += style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
                     style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
            height =
                qMax(height, style->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, w));
        } else if (tool == nullptr) {
            width += 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
        }
        return QSize(width, height);
    }
    const QSize smallest = SmallestSize(w);
    return QSize(smallest.width(), qMin(smallest.height(), fm.height() + 2));
}

// The layout faults of a window as it is on the screen, one line each.
QStringList LayoutFaults(const QWidget* window) {
    QStringList faults;
    if (const QLayout* layout = window->layout()) {
        const QSize needed = layout->totalMinimumSize();
        if (window->width() < needed.width() || window->height() < needed.height())
            faults << QStringLiteral("the window is %1x%2, its layout needs at least %3x%4")
                          .arg(window->width())
                          .arg(window->height())
                          .arg(needed.width())
                          .arg(needed.height());
    }
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (w->isWindow() || !w->isVisibleTo(window) || IsInsideACompoundControl(w, window))
            continue;
        const QWidget* parent = w->parentWidget();
        // A layout gives each control at least its smallest size unless the window is
        // too small for it.
        const bool placed = IsInLayout(parent->layout(), w);
        const QSize needed = placed ? SmallestSize(w) : ContentSize(w);
        if (w->width() < needed.width() || w->height() < needed.height())
            faults << QStringLiteral("%1 is %2x%3, smaller than the %4x%5 it needs")
                          .arg(Describe(w))
                          .arg(w->width())
                          .arg(w->height())
                          .arg(needed.width())
                          .arg(needed.height());
        if (!parent->rect().contains(w->geometry()))
            faults << QStringLiteral("%1 at (%2,%3 %4x%5) is cut off by its parent %6 (%7x%8)")
                          .arg(Describe(w))
                          .arg(w->x())
                          .arg(w->y())
                          .arg(w->width())
                          .arg(w->height())
                          .arg(Describe(parent))
                          .arg(parent->width())
                          .arg(parent->height());
    }
    return faults;
}

class WindowLayoutTest : public ::testing::TestWithParam<TWindowCase> {
public:
    TSandbox Box;
    TScriptedPrompts Prompts;
    TXTestInput Input;
    TWindowManagerProbe Manager;
    std::unique_ptr<TApplicationWindows> Windows;

    // The program as it starts with the demo project named on its command line, on the
    // 视频制作 page.
    void SetUp() override {
        ASSERT_TRUE(Manager.IsOpen());
        // The players of the preview and the time adjuster play into a file.
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", Box.File(QStringLiteral("played.raw")).toLocal8Bit());
        Box.Write(QStringLiteral("home/.config/Vexmira/Vexmira20.ini"),
                  "[General]\nShowIntroduction=1\n");
        ProgramState().Arguments = {QStringLiteral(VX_DEMO_PROJECT)};
        Windows = std::make_unique<TApplicationWindows>();
        Main()->show();
        ASSERT_TRUE(PumpUntil([this] { return Main()->OptionsApplied(); }, 5000));
        ASSERT_TRUE(Mapped(Main()));
        ASSERT_FALSE(VideoProject().AudioFile.isEmpty());
    }
    void TearDown() override {
        Input.MoveTo(QPoint(5, 5));
        VideoProject().SetModified(false);
        if (Windows)
            Main()->VideoMakePage()->MnNewProjectClick();
        Windows.reset();
        VideoProject().AttachSaveAction(nullptr);
        ProgramState().Arguments.clear();
        qunsetenv("SDL_DISKAUDIOFILE");
        qunsetenv("SDL_AUDIODRIVER");
    }

    TFmMain* Main() const { return Windows->FmMain.get(); }
    template <class T> T* Control(const char* name) const {
        T* w = Main()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Picks a visible tab of the main window the way the user does, by clicking it.
    void ClickTab(int visibleIndex) {
        QTabBar* bar = Control<QTabWidget>("PageControl1")->tabBar();
        int visible = -1;
        for (int i = 0; i < bar->count(); ++i)
            if (bar->isTabVisible(i) && ++visible == visibleIndex)
                QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        PumpEvents(50);
    }

    // Waits until the window manager has mapped `window` (and framed it, unless it is a
    // frameless window) and the window's size has settled on both sides.
    bool Mapped(QWidget* window) {
        const bool framed = !window->windowFlags().testFlag(Qt::FramelessWindowHint) &&
                            !window->windowFlags().testFlag(Qt::ToolTip) &&
                            !window->windowFlags().testFlag(Qt::Popup);
        const bool ok = PumpUntil(
            [&] {
                QWindow* handle = window->windowHandle();
                if (handle == nullptr || !handle->isExposed() ||
                    !Manager.IsVisible(window->winId()))
                    return false;
                if (framed && !Manager.FrameExtents(window->winId()).has_value())
                    return false;
                return Manager.RootGeometry(window->winId()).size() == window->size();
            },
            5000);
        // Late configure events of the manager, and the first paint.
        PumpEvents(150);
        if (!ok) {
            const QWindow* handle = window->windowHandle();
            const std::optional<QMargins> frame = Manager.FrameExtents(window->winId());
            const QRect onRoot = Manager.RootGeometry(window->winId());
            ADD_FAILURE() << "exposed " << (handle != nullptr && handle->isExposed())
                          << ", viewable " << Manager.IsVisible(window->winId()) << ", framed "
                          << frame.has_value() << ", " << onRoot.width() << "x" << onRoot.height()
                          << " on the server, " << window->width() << "x" << window->height()
                          << " in Qt";
        }
        return ok;
    }

    // Opens a modal window through `trigger` and looks at it while it is up.
    void Modal(const std::function<void()>& trigger, const std::function<void(QWidget*)>& look) {
        int seen = 0;
        TModalHandler handler([&](QWidget* w) {
            ++seen;
            look(w);
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
            else
                w->close();
        });
        trigger();
        EXPECT_EQ(seen, 1) << "no modal window opened";
    }

    // Runs `show` with the Qt dialogs in place of the scripted prompts.
    void WithQtPrompts(const std::function<void()>& show) {
        SetPrompts(nullptr);
        show();
        SetPrompts(&Prompts);
    }

    // Saves the window with its frame, as the screen shows it.
    void Screenshot(QWidget* window, const QString& name) {
        const QString dir = qEnvironmentVariable("VX_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        const QRect area = Manager.OuterGeometry(window->winId());
        QDir().mkpath(dir);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
            0, area.x(), area.y(), area.width(), area.height());
        EXPECT_TRUE(shot.save(dir + u'/' + name + QStringLiteral(".png"), "PNG"))
            << dir.toStdString();
    }
};

TEST_P(WindowLayoutTest, OpensWholeUnderTheWindowManager) {
    const TWindowCase& c = GetParam();
    const QString name = QString::fromLatin1(c.Name);
    int looked = 0;
    c.Open(*this, [&](QWidget* window) {
        ++looked;
        ASSERT_TRUE(Mapped(window)) << c.Name << ": the window manager never showed the window";
        Screenshot(window, name);
        const QStringList faults = LayoutFaults(window);
        EXPECT_TRUE(faults.isEmpty())
            << c.Name << ":\n  " << faults.join(QStringLiteral("\n  ")).toStdString();
        // The whole window, with its frame, is on the screen.
        EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(
            Manager.OuterGeometry(window->winId())))
            << c.Name << " lies partly off the screen";
    });
    EXPECT_EQ(looked, 1) << c.Name << ": the window did not open";
}

// The desktop of scripts/test really has a window manager and a tray.
TEST(Desktop, HasAWindowManagerAndASystemTray) {
    if (qEnvironmentVariableIsEmpty("VX_DESKTOP"))
        GTEST_SKIP() << "not started by scripts/desktop";
    TWindowManagerProbe probe;
    EXPECT_EQ(probe.ManagerName(), QStringLiteral("Openbox"));
    EXPECT_TRUE(probe.TrayAvailable());
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
}

// The check itself: it sees a squeezed window, a hand-placed control too small for its
// text and one that reaches out of its parent, and lets a sound window pass.
TEST(LayoutFaults, SeeSqueezedClippedAndCutControls) {
    QDialog sound;
    auto* layout = new QVBoxLayout(&sound);
    layout->addWidget(new QLabel(QStringLiteral("视频格式：MP4 (默认)")));
    layout->addWidget(new QPushButton(QStringLiteral("开始")));
    sound.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sound));
    EXPECT_EQ(LayoutFaults(&sound), QStringList());

    sound.setFixedSize(60, 20);
    PumpEvents(50);
    const QStringList squeezed = LayoutFaults(&sound);
    ASSERT_FALSE(squeezed.isEmpty());
    EXPECT_TRUE(squeezed.first().startsWith(QStringLiteral("the window is 60x20")));

    QWidget hand;
    hand.resize(200, 100);
    auto* label = new QLabel(QStringLiteral("这是一段很长的说明文字"), &hand);
    label->setGeometry(10, 10, 40, 20);
    auto* box = new QCheckBox(QStringLiteral("录制声音"), &hand);
    box->setGeometry(150, 70, 100, 20);
    auto* fits = new QPushButton(QStringLiteral("确定"), &hand);
    fits->setGeometry(10, 40, 75, 25);
    hand.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hand));
    const QStringList faults = LayoutFaults(&hand);
    ASSERT_EQ(faults.size(), 2) << faults.join(u'\n').toStdString();
    EXPECT_TRUE(faults[0].contains(QStringLiteral("QLabel"))) << faults[0].toStdString();
    EXPECT_TRUE(faults[1].contains(QStringLiteral("cut off"))) << faults[1].toStdString();
}

// Shows a window that the program keeps, and hides it again after the look.
void ShowKept(QWidget* window, const std::function<void(QWidget*)>& look) {
    window->show();
    look(window);
    window->hide();
}

std::vector<TWindowCase> WindowCases() {
    using T = WindowLayoutTest;
    using Look = std::function<void(QWidget*)>;
    return {
        {"main-recording",
         [](T& t, const Look& look) {
             t.ClickTab(0);
             look(t.Main());
         }},
        {"main-videomaking",
         [](T& t, const Look& look) {
             t.ClickTab(1);
             look(t.Main());
         }},
        {"toolbar", [](T& t, const Look& look) { ShowKept(t.Windows->FmToolBar.get(), look); }},
        {"toolbar-tooltip",
         [](T& t, const Look& look) {
             TFmToolBar* bar = t.Windows->FmToolBar.get();
             bar->show();
             ASSERT_TRUE(t.Mapped(bar));
             // The pointer rests on the start button, as the user's would.
             auto* start = bar->findChild<QToolButton*>(QStringLiteral("SBtnStart"));
             ASSERT_NE(start, nullptr);
             t.Input.MoveTo(start->mapToGlobal(start->rect().center()));
             TFmToolHint* hint = t.Windows->FmToolHint.get();
             ASSERT_TRUE(PumpUntil([hint] { return hint->isVisible(); }, 3000));
             look(hint);
             t.Input.MoveTo(QPoint(5, 5));
             bar->hide();
         }},
        {"area-frame",
         [](T& t, const Look& look) {
             t.ClickTab(0);
             t.Main()->RecordingPage()->RBtnRectCapture()->click();
             QWidget* frame = t.Windows->FmRect.get();
             ASSERT_TRUE(PumpUntil([frame] { return frame->isVisible(); }, 3000));
             look(frame);
         }},
        {"custom-size",
         [](T& t, const Look& look) {
             t.ClickTab(0);
             QComboBox* sizes = t.Main()->RecordingPage()->ComboBoxVideoSize();
             t.Modal(
                 [sizes] {
                     sizes->setCurrentText(QStringLiteral("自定义"));
                     emit sizes->activated(sizes->currentIndex());
                 },
                 look);
         }},
        {"about",
         [](T& t, const Look& look) {
             t.Modal([&t] { t.Control<QAction>("MnAbout")->trigger(); }, look);
         }},
        {"introduction",
         [](T& t, const Look& look) {
             t.Modal([&t] { t.Control<QAction>("MnIntroduction")->trigger(); }, look);
         }},
        {"video-size",
         [](T& t, const Look& look) {
             t.Modal([&t] { TFmLyricsVideoSize(t.Main()).exec(); }, look);
         }},
        {"margins",
         [](T& t, const Look& look) { t.Modal([&t] { TFmMargins(t.Main()).exec(); }, look); }},
        {"rows",
         [](T& t, const Look& look) { t.Modal([&t] { TFmNumberOfRows(t.Main()).exec(); }, look); }},
        {"line-spacing",
         [](T& t, const Look& look) { t.Modal([&t] { TFmLineSpacing(t.Main()).exec(); }, look); }},
        {"picture-settings",
         [](T& t, const Look& look) {
             t.Modal([&t] { TFmPicturesSettings(t.Main()).exec(); }, look);
         }},
        {"preview",
         [](T& t, const Look& look) {
             // The user looks at the first picture of the video, drawn once the song
             // has opened.
             t.Modal([&t] { t.Control<QPushButton>("BtnPreviewSetting")->click(); },
                     [&look](QWidget* w) {
                         auto* picture = w->findChild<TImagePreview*>();
                         ASSERT_NE(picture, nullptr);
                         EXPECT_TRUE(
                             PumpUntil([picture] { return !picture->Image().isNull(); }, 3000));
                         look(w);
                     });
         }},
        {"production",
         [](T& t, const Look& look) {
             t.Modal([&t] { t.Control<QPushButton>("BtnStartConvert")->click(); }, look);
         }},
        {"lyric-editor",
         [](T& t, const Look& look) {
             t.Modal([&t] { t.Control<QPushButton>("BtnEditLyircs")->click(); }, look);
         }},
        {"time-adjuster",
         [](T& t, const Look& look) {
             t.Modal([&t] { t.Control<QPushButton>("BtnAdjustTime")->click(); }, look);
         }},
        // The standard dialogs and message boxes, as the program shows them.
        {"message",
         [](T& t, const Look& look) {
             t.WithQtPrompts([&] {
                 t.Modal(
                     [&t] {
                         OutputFileExists(t.Main(), t.Box.Path() + QStringLiteral("/视频.mp4"));
                     },
                     look);
             });
         }},
        {"open-song",
         [](T& t, const Look& look) {
             t.WithQtPrompts([&] {
                 t.Modal([&t] { t.Control<QPushButton>("BrnBrowseAudio")->click(); }, look);
             });
         }},
        {"font",
         [](T& t, const Look& look) {
             t.WithQtPrompts([&] {
                 QFont font = VideoMakeSettings().VideoFont.Font;
                 t.Modal([&] { Prompts().FontDialog(t.Main(), font); }, look);
             });
         }},
        {"colour",
         [](T& t, const Look& look) {
             t.WithQtPrompts([&] {
                 // As the current row's colour is picked: the dialog starts from it.
                 QColor colour(Qt::yellow);
                 TColorDialogOptions options;
                 options.Initial = colour;
                 t.Modal([&] { Prompts().ColorDialog(t.Main(), colour, options); }, look);
             });
         }},
        {"screenshot-area",
         [](T& t, const Look& look) { ShowKept(t.Windows->FmScreenRect.get(), look); }},
        {"screenshot-window",
         [](T& t, const Look& look) { ShowKept(t.Windows->FmScreenWindowSet.get(), look); }},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, WindowLayoutTest, ::testing::ValuesIn(WindowCases()),
                         [](const ::testing::TestParamInfo<TWindowCase>& info) {
                             std::string name = info.param.Name;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

} // namespace
