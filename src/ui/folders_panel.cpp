#include "ui/folders_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "system/texts.h"
#include "ui/panel_layout.h"

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

// A field whose trailing button opens a chooser.
QAction* addBrowseAction(QLineEdit* edit)
{
    return edit->addAction(edit->style()->standardIcon(QStyle::SP_DirIcon),
                           QLineEdit::TrailingPosition);
}

} // namespace

TDossiersFrame::TDossiersFrame(QWidget* parent)
    : QWidget(parent), folderChooser_(browseFolder), fileChooser_(browseFile), naming_(&Naming())
{
    setObjectName(QStringLiteral("DossiersFrame1"));
    resize(kPanelSize);

    auto* main = groupColumn(this, GroupBox1);

    // Videos.
    gbFichier = new QGroupBox(GroupBox1);
    auto* video = new QVBoxLayout(gbFichier);
    tighten(video);
    auto* videoName = new QHBoxLayout;
    LabelVideo = new TClickLabel(QString(), gbFichier);
    sbVideo = iconButton(gbFichier, "folder-open", QStyle::SP_DirOpenIcon);
    videoName->addWidget(LabelVideo, 1);
    videoName->addWidget(sbVideo);
    video->addLayout(videoName);
    VideoDirEdit = new QLineEdit(gbFichier);
    VideoDirEdit->setReadOnly(true);
    video->addWidget(VideoDirEdit);
    auto* videoRoot = new QHBoxLayout;
    VideoRacineEdit = new QLineEdit(Text(TextId::VideoRacineDefault), gbFichier);
    cbVideoDate = new QCheckBox(gbFichier);
    cbVideoDate->setChecked(true);
    videoRoot->addWidget(VideoRacineEdit, 1);
    videoRoot->addWidget(cbVideoDate);
    video->addLayout(videoRoot);
    main->addWidget(gbFichier);

    // Images.
    gbFichierImages = new QGroupBox(GroupBox1);
    auto* image = new QVBoxLayout(gbFichierImages);
    tighten(image);
    auto* imageName = new QHBoxLayout;
    LabelImage = new TClickLabel(QString(), gbFichierImages);
    sbImage = iconButton(gbFichierImages, "folder-open", QStyle::SP_DirOpenIcon);
    imageName->addWidget(LabelImage, 1);
    imageName->addWidget(sbImage);
    image->addLayout(imageName);
    ImageDirEdit = new QLineEdit(gbFichierImages);
    ImageDirEdit->setReadOnly(true);
    image->addWidget(ImageDirEdit);
    auto* imageRoot = new QHBoxLayout;
    ImageRacineEdit = new QLineEdit(Text(TextId::ImageRacineDefault), gbFichierImages);
    cbImageDate = new QCheckBox(gbFichierImages);
    imageRoot->addWidget(ImageRacineEdit, 1);
    imageRoot->addWidget(cbImageDate);
    image->addLayout(imageRoot);
    main->addWidget(gbFichierImages);

    // Clip viewer.
    GroupBox2 = new QGroupBox(GroupBox1);
    auto* viewer = new QVBoxLayout(GroupBox2);
    tighten(viewer);
    feFerrovue = new QLineEdit(Text(TextId::feFerrovueDefault), GroupBox2);
    viewer->addWidget(feFerrovue);
    main->addWidget(GroupBox2);
    main->addStretch(1);
    ApplyTexts();

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

void TDossiersFrame::ApplyTexts()
{
    GroupBox1->setTitle(Text(TextId::DirectoriesGroupCaption));
    setCaption(gbFichier, TextId::gbFichierCaption, TextId::gbFichierHint);
    LabelVideo->setToolTip(Text(TextId::DossiersLabelVideoHint));
    sbVideo->setToolTip(Text(TextId::DossiersSbVideoHint));
    VideoDirEdit->setToolTip(Text(TextId::VideoDirEditHint));
    VideoRacineEdit->setToolTip(Text(TextId::VideoRacineEditHint));
    setCaption(cbVideoDate, TextId::IncludeDateCaption, TextId::cbVideoDateHint);
    setCaption(gbFichierImages, TextId::gbFichierImagesCaption, TextId::gbFichierImagesHint);
    LabelImage->setToolTip(Text(TextId::LabelImageHint));
    sbImage->setToolTip(Text(TextId::sbImageHint));
    ImageDirEdit->setToolTip(Text(TextId::ImageDirEditHint));
    ImageRacineEdit->setToolTip(Text(TextId::ImageRacineEditHint));
    setCaption(cbImageDate, TextId::IncludeDateCaption, TextId::cbImageDateHint);
    GroupBox2->setTitle(Text(TextId::FerrovueGroupCaption));
    feFerrovue->setToolTip(Text(TextId::feFerrovueHint));
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
    const QString folder =
        folderChooser_(this, Text(TextId::VideoFolderChooserCaption), VideoDirEdit->text());
    if (!folder.isEmpty()) VideoDirEdit->setText(folder);
}

void TDossiersFrame::ChooseImageFolder()
{
    const QString folder =
        folderChooser_(this, Text(TextId::ImageFolderChooserCaption), ImageDirEdit->text());
    if (!folder.isEmpty()) ImageDirEdit->setText(folder);
}

void TDossiersFrame::ChooseFerrovue()
{
    const QString file =
        fileChooser_(this, Text(TextId::FerrovueChooserCaption), feFerrovue->text());
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
