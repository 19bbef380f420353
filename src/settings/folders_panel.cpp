#include "settings/folders_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace kad {

namespace {

QString browseFolder(QWidget* parent, const QString& caption, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, caption, start);
}

QString browseFile(QWidget* parent, const QString& caption, const QString& start)
{
    return QFileDialog::getOpenFileName(parent, caption, start);
}

QToolButton* folderButton(QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setIcon(QIcon::fromTheme(QStringLiteral("folder-open"),
                                parent->style()->standardIcon(QStyle::SP_DirOpenIcon)));
    b->setAutoRaise(true);
    b->setIconSize(QSize(16, 16));
    return b;
}

// A field whose trailing button opens a chooser.
QAction* addBrowseAction(QLineEdit* edit)
{
    return edit->addAction(edit->style()->standardIcon(QStyle::SP_DirIcon),
                           QLineEdit::TrailingPosition);
}

void tighten(QLayout* layout)
{
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
}

} // namespace

TDossiersFrame::TDossiersFrame(QWidget* parent)
    : QWidget(parent), folderChooser_(browseFolder), fileChooser_(browseFile), naming_(&Naming())
{
    setObjectName(QStringLiteral("DossiersFrame1"));
    resize(kPanelSize);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    GroupBox1 = new QGroupBox(tr("Directories (Alt+D)"), this);
    outer->addWidget(GroupBox1);
    auto* main = new QVBoxLayout(GroupBox1);
    tighten(main);

    // Videos.
    gbFichier = new QGroupBox(tr("Video Files"), GroupBox1);
    gbFichier->setToolTip(tr("Folder and name of the captured videos"));
    auto* video = new QVBoxLayout(gbFichier);
    tighten(video);
    auto* videoName = new QHBoxLayout;
    LabelVideo = new TClickLabel(QString(), gbFichier);
    LabelVideo->setToolTip(
        tr("Indicates the next name for capture,\nor the current name if capture "
           "is beeing processed.\nClick here to go to the Sources panel."));
    sbVideo = folderButton(gbFichier);
    sbVideo->setToolTip(tr("Open the folder of the videos"));
    videoName->addWidget(LabelVideo, 1);
    videoName->addWidget(sbVideo);
    video->addLayout(videoName);
    VideoDirEdit = new QLineEdit(gbFichier);
    VideoDirEdit->setReadOnly(true);
    VideoDirEdit->setToolTip(
        tr("Folder where the videos are saved.\nClick the button to choose it."));
    video->addWidget(VideoDirEdit);
    auto* videoRoot = new QHBoxLayout;
    VideoRacineEdit = new QLineEdit(tr("Video"), gbFichier);
    VideoRacineEdit->setToolTip(tr("Beginning of the name of the video files"));
    cbVideoDate = new QCheckBox(tr("Include date"), gbFichier);
    cbVideoDate->setChecked(true);
    cbVideoDate->setToolTip(tr("Include the date and time of the start of the program\nin the name "
                               "of the video files"));
    videoRoot->addWidget(VideoRacineEdit, 1);
    videoRoot->addWidget(cbVideoDate);
    video->addLayout(videoRoot);
    main->addWidget(gbFichier);

    // Images.
    gbFichierImages = new QGroupBox(tr("Image Files"), GroupBox1);
    gbFichierImages->setToolTip(tr("Folder and name of the grabbed images"));
    auto* image = new QVBoxLayout(gbFichierImages);
    tighten(image);
    auto* imageName = new QHBoxLayout;
    LabelImage = new TClickLabel(QString(), gbFichierImages);
    LabelImage->setToolTip(tr("Indicates the name of the next grabbed image.\nClick here to go to "
                              "the Grab panel."));
    sbImage = folderButton(gbFichierImages);
    sbImage->setToolTip(tr("Open the folder of the images"));
    imageName->addWidget(LabelImage, 1);
    imageName->addWidget(sbImage);
    image->addLayout(imageName);
    ImageDirEdit = new QLineEdit(gbFichierImages);
    ImageDirEdit->setReadOnly(true);
    ImageDirEdit->setToolTip(
        tr("Folder where the images are saved.\nClick the button to choose it."));
    image->addWidget(ImageDirEdit);
    auto* imageRoot = new QHBoxLayout;
    ImageRacineEdit = new QLineEdit(tr("Image"), gbFichierImages);
    ImageRacineEdit->setToolTip(tr("Beginning of the name of the image files"));
    cbImageDate = new QCheckBox(tr("Include date"), gbFichierImages);
    cbImageDate->setToolTip(tr("Include the date and time of the start of the program\nin the name "
                               "of the image files"));
    imageRoot->addWidget(ImageRacineEdit, 1);
    imageRoot->addWidget(cbImageDate);
    image->addLayout(imageRoot);
    main->addWidget(gbFichierImages);

    // Clip viewer.
    GroupBox2 = new QGroupBox(tr("Ferrovue"), GroupBox1);
    auto* viewer = new QVBoxLayout(GroupBox2);
    tighten(viewer);
    feFerrovue = new QLineEdit(QStringLiteral("feFerrovue"), GroupBox2);
    feFerrovue->setToolTip(tr("Browse for the program Ferrovue (its executable file),\nso that F8 "
                              "or the icon of the About panel (Alt+A)\nopens the captured clips."));
    viewer->addWidget(feFerrovue);
    main->addWidget(GroupBox2);
    main->addStretch(1);

    connect(addBrowseAction(VideoDirEdit), &QAction::triggered, this,
            &TDossiersFrame::ChooseVideoFolder);
    connect(addBrowseAction(ImageDirEdit), &QAction::triggered, this,
            &TDossiersFrame::ChooseImageFolder);
    connect(addBrowseAction(feFerrovue), &QAction::triggered, this,
            &TDossiersFrame::ChooseFerrovue);

    connect(VideoDirEdit, &QLineEdit::textChanged, this, &TDossiersFrame::VideoDirEditChange);
    connect(ImageDirEdit, &QLineEdit::textChanged, this, &TDossiersFrame::ImageDirEditChange);
    // The roots are kept as typed, but the name follows only when the field
    // is left or Enter is pressed.
    connect(VideoRacineEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { naming_->videoRacine = text; });
    connect(ImageRacineEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { naming_->imageRacine = text; });
    connect(VideoRacineEdit, &QLineEdit::editingFinished, this, &TDossiersFrame::rebuildVideo);
    connect(ImageRacineEdit, &QLineEdit::editingFinished, this, &TDossiersFrame::rebuildImage);
    connect(cbVideoDate, &QCheckBox::toggled, this, [this](bool on) {
        naming_->videoDate = on;
        rebuildVideo();
    });
    connect(cbImageDate, &QCheckBox::toggled, this, [this](bool on) {
        naming_->imageDate = on;
        rebuildImage();
    });
    connect(feFerrovue, &QLineEdit::textChanged, this, &TDossiersFrame::ferrovuePathChanged);
    connect(LabelVideo, &TClickLabel::clicked, this, &TDossiersFrame::sourcesPanelRequested);
    connect(LabelImage, &TClickLabel::clicked, this, &TDossiersFrame::grabPanelRequested);
    connect(sbVideo, &QToolButton::clicked, this, &TDossiersFrame::OpenVideoFolder);
    connect(sbImage, &QToolButton::clicked, this, &TDossiersFrame::OpenImageFolder);
}

void TDossiersFrame::setFolderChooser(PathChooser chooser)
{
    folderChooser_ = chooser ? std::move(chooser) : PathChooser(browseFolder);
}

void TDossiersFrame::setFileChooser(PathChooser chooser)
{
    fileChooser_ = chooser ? std::move(chooser) : PathChooser(browseFile);
}

void TDossiersFrame::setNamingState(NamingState* state)
{
    naming_ = state ? state : &Naming();
}

void TDossiersFrame::ChooseVideoFolder()
{
    const QString folder = folderChooser_(this, tr("Folder of the videos"), VideoDirEdit->text());
    if (!folder.isEmpty()) VideoDirEdit->setText(folder);
}

void TDossiersFrame::ChooseImageFolder()
{
    const QString folder = folderChooser_(this, tr("Folder of the images"), ImageDirEdit->text());
    if (!folder.isEmpty()) ImageDirEdit->setText(folder);
}

void TDossiersFrame::ChooseFerrovue()
{
    const QString file = fileChooser_(this, tr("Ferrovue"), feFerrovue->text());
    if (!file.isEmpty()) feFerrovue->setText(file);
}

void TDossiersFrame::OpenVideoFolder() const
{
    OpenUrl(QUrl::fromLocalFile(VideoDirEdit->text()));
}

void TDossiersFrame::OpenImageFolder() const
{
    OpenUrl(QUrl::fromLocalFile(ImageDirEdit->text()));
}

void TDossiersFrame::ShowVideoName(const QString& fileName)
{
    LabelVideo->setText(fileName);
}

void TDossiersFrame::ShowImageName(const QString& fileName)
{
    LabelImage->setText(fileName);
}

void TDossiersFrame::VideoDirEditChange()
{
    naming_->videoDirectory = VideoDirEdit->text();
    emit videoDirectoryChanged(VideoDirEdit->text());
    rebuildVideo();
}

void TDossiersFrame::ImageDirEditChange()
{
    naming_->imageDirectory = ImageDirEdit->text();
    emit imageDirectoryChanged(ImageDirEdit->text());
    rebuildImage();
}

void TDossiersFrame::rebuildVideo()
{
    const QString name = RebuildVideoName(*naming_);
    ShowVideoName(FileNamePart(name));
    emit currentVideoFileNameChanged(name);
}

void TDossiersFrame::rebuildImage()
{
    const QString name = RebuildImageName(*naming_);
    ShowImageName(FileNamePart(name));
    emit nextImageFileNameChanged(name);
}

} // namespace kad
