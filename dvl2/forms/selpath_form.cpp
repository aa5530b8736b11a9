#include "dvl2/forms/selpath_form.h"

#include "dvl2/forms/rar_form.h"
#include "platform/paths.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QInputDialog>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>

namespace dvl::dvl2 {

namespace {

// Mounted volumes a person can extract to (pseudo file systems left out).
QStringList DriveRoots() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        const QString root = volume.rootPath();
        if (root.startsWith("/proc") || root.startsWith("/sys") || root.startsWith("/dev") ||
            (root.startsWith("/run") && !root.startsWith("/run/media")))
            continue;
        if (!roots.contains(root)) roots << root;
    }
    if (!roots.contains("/")) roots.prepend("/");
    roots.sort();
    return roots;
}

// The drive whose root is the longest prefix of the path.
int DriveOf(const QStringList& roots, const QString& path) {
    int best = 0;
    for (int i = 0; i < roots.size(); ++i) {
        const QString& r = roots[i];
        const bool inside = r == "/" || path == r || path.startsWith(r + "/");
        if (inside && r.size() > roots[best].size()) best = i;
    }
    return best;
}

} // namespace

Tselpathform::Tselpathform(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("selpathform");
    setWindowTitle(QStringLiteral("Extract to.."));
    setFixedSize(254, 204);

    Drive1 = new QComboBox(this);
    Drive1->setObjectName("Drive1");
    Drive1->setGeometry(8, 8, 145, Drive1->sizeHint().height());
    Drive1->addItems(DriveRoots());

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QStringLiteral("/"));
    Dir1 = new QTreeView(this);
    Dir1->setObjectName("Dir1");
    Dir1->setGeometry(8, 32, 145, 161);
    Dir1->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        Dir1->hideColumn(column);
    Dir1->header()->hide();
    connect(model_, &QFileSystemModel::layoutChanged, this, &Tselpathform::FollowSelection,
            Qt::QueuedConnection);
    connect(model_, &QFileSystemModel::rowsInserted, this, &Tselpathform::FollowSelection,
            Qt::QueuedConnection);
    connect(model_, &QFileSystemModel::directoryLoaded, this, &Tselpathform::FollowSelection,
            Qt::QueuedConnection);
    // A folder the user picks is not taken back by a late load.
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!applying_) followed_.clear();
    });

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(168, 32, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(168, 64, 75, 25);
    Button3 = new QPushButton(QStringLiteral("&New folder"), this);
    Button3->setObjectName("Button3");
    Button3->setGeometry(168, 168, 75, 25);
    Button3->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &Tselpathform::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tselpathform::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tselpathform::Button3Click);

    // The tree starts at the current folder of the time the windows are made.
    const QString current = QDir::currentPath();
    const int drive = DriveOf(DriveRoots(), current);
    Drive1->setCurrentIndex(drive);
    Drive1Change(drive);
    SelectFolder(current);
    connect(Drive1, &QComboBox::currentIndexChanged, this, &Tselpathform::Drive1Change);

    askName = [this](const std::string& proposed) -> std::optional<std::string> {
        bool ok = false;
        const QString name =
            QInputDialog::getText(this, QStringLiteral("New folder.."), QStringLiteral("Name"),
                                  QLineEdit::Normal, QString::fromStdString(proposed), &ok);
        if (!ok) return std::nullopt;
        return name.toStdString();
    };
}

void Tselpathform::Drive1Change(int index) {
    const QString root = Drive1->itemText(index);
    Dir1->setRootIndex(model_->index(root).parent());
    SelectFolder(root);
}

void Tselpathform::SelectFolder(const QString& nativePath) {
    followed_ = QDir::cleanPath(nativePath);
    ApplySelection();
}

void Tselpathform::ApplySelection() {
    // The model reads folders in the background and sorts them later, so
    // the selection is applied again whenever rows arrive or move, until the
    // user picks a folder.
    const QModelIndex index = model_->index(followed_);
    if (!index.isValid()) return;
    applying_ = true;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        Dir1->expand(up);
    Dir1->setCurrentIndex(index);
    Dir1->scrollTo(index);
    applying_ = false;
}

void Tselpathform::FollowSelection() {
    if (!followed_.isEmpty()) ApplySelection();
}

void Tselpathform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A hidden tree has no geometry to scroll in yet.
    QMetaObject::invokeMethod(this, &Tselpathform::FollowSelection, Qt::QueuedConnection);
}

std::string Tselpathform::SelectedFolder() const {
    const QModelIndex index = Dir1->currentIndex();
    const QString path = index.isValid() ? model_->filePath(index) : Drive1->currentText();
    return platform::ToWindowsPath(path.toStdString());
}

std::string Tselpathform::ShowModal(const std::string& archivePath) {
    archivePath_ = archivePath;
    result_.clear();
    CentreOnScreen(this);
    exec();
    return result_;
}

void Tselpathform::Button1Click() {
    result_ = SelectedFolderResult(SelectedFolder());
    accept();
}

void Tselpathform::Button2Click() {
    result_.clear();
    reject();
}

void Tselpathform::Button3Click() {
    const std::optional<std::string> created =
        CreateNewFolder(archivePath_, SelectedFolder(), askName);
    if (!created) return;
    SelectFolder(QString::fromStdString(platform::ToNativePath(*created)));
    Button1->setFocus();
}

} // namespace dvl::dvl2
