#include "dvl2cfg/forms/form1.h"

#include "dvl2cfg/core/store_text.h"
#include "dvl2cfg/forms/artwork.h"
#include "dvl2cfg/forms/form2.h"
#include "platform/hooks.h"
#include "platform/paths.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <array>

namespace dvl::dvl2cfg {

namespace {

constexpr int kThanksIntervalMs = 4000;
constexpr int kExtensionColumn = 0;
constexpr int kDescriptionColumn = 1;

const std::array<const char*, kActionCount> kActionTexts = {
    "Open",         "Extract to..", "Extract to current", "Extract to archive named folder",
    "List archive", "Test archive",
};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

// A label of fixed width whose text is centred in it.
QLabel* MakeCentredLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                         int width) {
    QLabel* label = MakeLabel(parent, name, text, left, top);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setGeometry(left, top, width, label->sizeHint().height());
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(name);
    button->setGeometry(left, top, 75, 23);
    return button;
}

void OpenWithDesktop(const QString& nativePath) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(nativePath));
}

} // namespace

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

Tform1::Tform1(std::string programFolder, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      programFolder_(std::move(programFolder)), openFile_(OpenWithDesktop) {
    setObjectName("form1");
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setWindowIcon(DrawWindowIcon());
    setFixedSize(359, 399);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(7, 7, 345, 354);
    BuildFileTypesTab();
    BuildAboutTab();
    BuildButtons();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kThanksIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &Tform1::Timer1Timer);

    FormCreate();
    connect(PageControl1, &QTabWidget::currentChanged, this, &Tform1::PageControl1Change);
    CentreOnScreen(this);
}

void Tform1::BuildFileTypesTab() {
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral("&Filetypes"));

    Label1 = MakeLabel(TabSheet1, "Label1", QStringLiteral("Registered filetypes:"), 16, 16);
    ListView1 = new QTreeWidget(TabSheet1);
    ListView1->setObjectName("ListView1");
    ListView1->setGeometry(16, 32, 305, 89);
    ListView1->setRootIsDecorated(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setHeaderLabels({QStringLiteral("Extension"), QStringLiteral("Description")});
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsClickable(false);
    ListView1->setColumnWidth(kExtensionColumn, 60);
    ListView1->setColumnWidth(kDescriptionColumn, 222);
    // Selection moved by the keyboard reaches the rule as well as a click.
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &Tform1::ListView1Click);
    connect(ListView1, &QTreeWidget::clicked, this, &Tform1::ListView1Click);

    btn_newassoc = MakeButton(TabSheet1, "btn_newassoc", "&New", 16, 129);
    btn_deleteassoc = MakeButton(TabSheet1, "btn_deleteassoc", "&Delete", 96, 129);
    btn_deleteassoc->setEnabled(false);
    connect(btn_newassoc, &QPushButton::clicked, this, &Tform1::btn_newassocClick);
    connect(btn_deleteassoc, &QPushButton::clicked, this, &Tform1::btn_deleteassocClick);

    Label3 = MakeLabel(
        TabSheet1, "Label3",
        QStringLiteral("The registered files must be valid ACE,RAR or ZIP archives."), 16, 160);
    Bevel2 = new QFrame(TabSheet1);
    Bevel2->setObjectName("Bevel2");
    Bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel2->setGeometry(16, 184, 305, 2);

    Label9 = MakeLabel(TabSheet1, "Label9", QStringLiteral("Context menu actions:"), 16, 200);
    CheckListBox1 = new QListWidget(TabSheet1);
    CheckListBox1->setObjectName("CheckListBox1");
    CheckListBox1->setGeometry(16, 216, 305, 89);
    for (const char* text : kActionTexts) {
        auto* item = new QListWidgetItem(QString::fromLatin1(text), CheckListBox1);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void Tform1::BuildAboutTab() {
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName("TabSheet3");
    PageControl1->addTab(TabSheet3, QStringLiteral("A&bout"));

    Panel1 = new QFrame(TabSheet3);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(14, 13, 307, 229);
    Image1 = new QLabel(Panel1);
    Image1->setObjectName("Image1");
    Image1->setGeometry(1, 1, kAboutPictureWidth, kAboutPictureHeight);
    Image1->setPixmap(DrawAboutPicture());

    // Labels have no background of their own, so they draw over the picture.
    MakeLabel(Panel1, "Label2", QStringLiteral("Version: 2.2b"), 212, 72);
    MakeCentredLabel(Panel1, "Label6", QStringLiteral("---------- Written by ----------"), 6, 96,
                     289);
    MakeCentredLabel(Panel1, "Label7", QStringLiteral("the Dovrel developers"), 6, 112, 289);
    MakeCentredLabel(Panel1, "Label4",
                     QStringLiteral("Bugreports,ideas and/or comments should be sent to:"), 6, 136,
                     289);
    MakeCentredLabel(Panel1, "Label8", QStringLiteral("dovrel@example.org"), 6, 152, 289);
    MakeCentredLabel(Panel1, "Label5", QStringLiteral("---------- Thanks to ----------"), 8, 176,
                     289);
    label_thanks = MakeCentredLabel(Panel1, "label_thanks", QString(), 40, 193, 225);
    label_thanks->setFixedSize(225, 17);

    btn_readme = MakeButton(TabSheet3, "btn_readme", "&Readme.txt", 16, 257);
    btn_version = MakeButton(TabSheet3, "btn_version", "&Version.txt", 16, 289);
    connect(btn_readme, &QPushButton::clicked, this, &Tform1::btn_readmeClick);
    connect(btn_version, &QPushButton::clicked, this, &Tform1::btn_versionClick);
}

void Tform1::BuildButtons() {
    btn_ok = MakeButton(this, "btn_ok", "&OK", 117, 369);
    btn_ok->setDefault(true);
    btn_close = MakeButton(this, "btn_close", "&Cancel", 197, 369);
    btn_apply = MakeButton(this, "btn_apply", "&Apply", 277, 369);
    btn_apply->setEnabled(false);
    connect(btn_ok, &QPushButton::clicked, this, &Tform1::btn_okClick);
    connect(btn_close, &QPushButton::clicked, this, &Tform1::btn_closeClick);
    connect(btn_apply, &QPushButton::clicked, this, &Tform1::btn_applyClick);
}

void Tform1::FormCreate() {
    thanks_.Restart();
    PageControl1->setCurrentWidget(TabSheet1);
    AssociationState state;
    try {
        state = LoadAssociations(programFolder_);
    } catch (const std::exception& error) {
        // An unreadable store starts the window empty rather than not at all.
        platform::ShowMessageBox({kApplicationTitle, error.what(), platform::MessageIcon::Error,
                                  platform::MessageButtons::Ok});
    }
    ShowLoadedState(state);
}

void Tform1::ShowLoadedState(const AssociationState& state) {
    for (const FileTypeRow& row : state.Rows)
        new QTreeWidgetItem(ListView1, {Q(row.Extension), Q(row.Description)});
    ListView1->sortItems(kExtensionColumn, Qt::AscendingOrder);
    // Checks set by loading are no change of the user's.
    const QSignalBlocker blocker(CheckListBox1);
    for (int i = 0; i < kActionCount; ++i)
        CheckListBox1->item(i)->setCheckState(state.Actions[i] ? Qt::Checked : Qt::Unchecked);
    connect(CheckListBox1, &QListWidget::itemChanged, this, &Tform1::CheckListBox1ClickCheck,
            Qt::UniqueConnection);
}

void Tform1::AddFileType(const FileTypeRow& row) {
    new QTreeWidgetItem(ListView1, {Q(row.Extension), Q(row.Description)});
    ListView1->sortItems(kExtensionColumn, Qt::AscendingOrder);
    btn_apply->setEnabled(true);
}

AssociationState Tform1::CurrentState() const {
    AssociationState state;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        state.Rows.push_back({item->text(kExtensionColumn).toStdString(),
                              item->text(kDescriptionColumn).toStdString()});
    }
    for (int i = 0; i < kActionCount; ++i)
        state.Actions[i] = CheckListBox1->item(i)->checkState() == Qt::Checked;
    return state;
}

void Tform1::ListView1Click() {
    btn_deleteassoc->setEnabled(!ListView1->selectedItems().isEmpty());
}

void Tform1::btn_deleteassocClick() {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty()) return;
    delete selected.front();
    // Removing the selected row may make its neighbour current; nothing is
    // selected until the user picks a row again.
    ListView1->clearSelection();
    btn_deleteassoc->setEnabled(false);
    btn_apply->setEnabled(true);
}

void Tform1::btn_newassocClick() {
    if (!newFileTypeDialog_) return;
    newFileTypeDialog_->exec();
}

void Tform1::CheckListBox1ClickCheck() {
    btn_apply->setEnabled(true);
}

bool Tform1::ApplyAssociationsShowingErrors() {
    btn_apply->setEnabled(false);
    try {
        ApplyAssociations(programFolder_, CurrentState());
    } catch (const AssociationWriteError& error) {
        platform::ShowMessageBox({kApplicationTitle, error.what(), platform::MessageIcon::Error,
                                  platform::MessageButtons::Ok});
        return false;
    }
    return true;
}

void Tform1::btn_applyClick() {
    ApplyAssociationsShowingErrors();
}

void Tform1::btn_okClick() {
    // A failed write keeps the window open, so the message is not the last
    // thing the user sees of unsaved changes.
    if (btn_apply->isEnabled() && !ApplyAssociationsShowingErrors()) return;
    close();
}

void Tform1::btn_closeClick() {
    close();
}

void Tform1::PageControl1Change() {
    if (PageControl1->currentWidget() == TabSheet1) {
        Timer1->stop();
        return;
    }
    thanks_.Restart();
    Timer1->start();
}

void Tform1::Timer1Timer() {
    label_thanks->setText(Q(thanks_.Next()));
}

void Tform1::OpenBesideProgram(const char* name, const char* missingText) {
    const std::string path = WithTrailingBackslash(programFolder_) + name;
    if (!platform::FileExists(path)) {
        platform::ShowMessageBox(
            {"Error", missingText, platform::MessageIcon::Error, platform::MessageButtons::Ok});
        return; // the shell would open nothing
    }
    openFile_(Q(platform::ToNativePath(path)));
}

void Tform1::btn_readmeClick() {
    OpenBesideProgram("readme.txt", "Can't find Readme.txt");
}

void Tform1::btn_versionClick() {
    OpenBesideProgram("version.txt", "Can't find Version.txt");
}

void Tform1::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    btn_ok->setFocus();
}

void Tform1::keyPressEvent(QKeyEvent* event) {
    // Escape would hide the window without closing it; the window has no
    // cancel key.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace dvl::dvl2cfg
