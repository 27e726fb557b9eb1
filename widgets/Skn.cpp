#include "Skn.h"

#include <QFile>
#include <QImageReader>

#ifdef VELMORA_HAVE_SKIN
// The skin pictures live in a static library; this keeps them linked in.
static void initSkinResources()
{
    Q_INIT_RESOURCE(skin);
}
#else
static void initSkinResources() {}
#endif

namespace velmora {

namespace {

constexpr QSize Stop{24, 23};
constexpr QSize PlaySmall{19, 20};
constexpr QSize PauseSize{25, 25};
constexpr QSize Transport{32, 20};
constexpr QSize OpenSize{38, 13};
constexpr QSize MuteSize{10, 10};
constexpr QSize Volume{10, 10};
constexpr QSize WindowPic{34, 11};
constexpr QSize ListButton{20, 15};
constexpr QSize Small{13, 13};

QPixmap greyStandIn(QSize size)
{
    QPixmap picture(size);
    picture.fill(QColor(0x80, 0x80, 0x80));
    return picture;
}

QPixmap loadPicture(const QString &path)
{
    QImageReader reader(path);
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

} // namespace

const QList<SkinImage> &Skn::catalogue()
{
    static const QList<SkinImage> images{
        {"tdN", "tdN.bmp", Stop}, {"tdM", "tdM.bmp", Stop}, {"tdd", "tdd.bmp", Stop},
        {"pn", "pn.bmp", PlaySmall}, {"pm", "pm.bmp", PlaySmall}, {"pd", "pd.bmp", PlaySmall},
        {"PausN", "PausN.bmp", PauseSize}, {"PausM", "PausM.bmp", PauseSize}, {"PausD", "PausD.bmp", PauseSize},
        {"PrevN", "PrevN.bmp", Transport}, {"PrevM", "PrevM.bmp", Transport}, {"PrevD", "PrevD.bmp", Transport},
        {"NextN", "NextN.bmp", Transport}, {"NextM", "NextM.bmp", Transport}, {"NextD", "NextD.bmp", Transport},
        {"SBiN", "SBiN.bmp", Transport}, {"SBiM", "SBiM.bmp", Transport}, {"SBiD", "SBiD.bmp", Transport},
        {"SFiN", "SFiN.bmp", Transport}, {"SFiM", "SFiM.bmp", Transport}, {"SFiD", "SFiD.bmp", Transport},
        {"EjectN", "EjectN.bmp", Transport}, {"EjectM", "EjectM.bmp", Transport}, {"EjectD", "EjectD.bmp", Transport},
        {"Opn", "Opn.bmp", OpenSize}, {"Opm", "Opm.bmp", OpenSize},
        {"Moni", "Moni.gif", MuteSize}, {"Momi", "Momi.gif", MuteSize}, {"Modi", "Modi.gif", MuteSize},
        {"Mn", "Mn.gif", MuteSize}, {"Mm", "Mm.gif", MuteSize}, {"Md", "Md.gif", MuteSize},
        {"PlusN", "PlusN.bmp", Volume}, {"PlusM", "PlusM.bmp", Volume}, {"PlusD", "PlusD.bmp", Volume},
        {"MinusN", "MinusN.bmp", Volume}, {"MinusM", "MinusM.bmp", Volume}, {"MinusD", "MinusD.bmp", Volume},
        {"MinN", "MinN.gif", WindowPic}, {"MinM", "MinM.gif", WindowPic}, {"MinD", "MinD.gif", WindowPic},
        {"MaxN", "MaxN.gif", WindowPic}, {"MaxM", "MaxM.gif", WindowPic}, {"MaxD", "MaxD.gif", WindowPic},
        {"CrssN", "CrssN.gif", WindowPic}, {"CrssM", "CrssM.gif", WindowPic}, {"CrssD", "CrssD.gif", WindowPic},
        // Kept in the store, shown by no button.
        {"StepD", "StepD.bmp", Transport}, {"StepM", "StepM.bmp", Transport}, {"StopN", "StopN.bmp", Transport},
        {"PlayN", "PlayN.bmp", Transport}, {"Playm", "Playm.bmp", Transport},
        {"AddN", "AddN.bmp", ListButton}, {"AddM", "AddM.bmp", ListButton}, {"AddD", "AddD.bmp", ListButton},
        {"RemN", "RemN.bmp", ListButton}, {"RemM", "RemM.bmp", ListButton}, {"RemD", "RemD.bmp", ListButton},
        {"SD", "SD.gif", Small}, {"sm", "sm.gif", Small},
        {"PlN", "PlN.gif", QSize(16, 22)}, {"Plm", "Plm.gif", QSize(20, 28)},
    };
    return images;
}

Skn::Skn(QWidget *parent) : QWidget(parent)
{
    initSkinResources();
    setWindowTitle(QStringLiteral("Skn"));
    for (const SkinImage &image : catalogue()) {
        const QString name = QString::fromLatin1(image.name);
        QPixmap picture = loadPicture(QStringLiteral(":/skin/") + QString::fromLatin1(image.file));
        if (picture.isNull()) {
            picture = greyStandIn(image.size);
            m_missing.append(name);
        }
        m_pictures.insert(name, picture);
    }
    m_panel = loadPicture(QStringLiteral(":/skin/panel.bmp"));
    if (m_panel.isNull())
        m_panel = greyStandIn(QSize(418, 113));
    m_icon = loadPicture(QStringLiteral(":/skin/velmora.png"));
}

const QPixmap &Skn::Picture(const QString &name) const
{
    static const QPixmap none;
    const auto it = m_pictures.constFind(name);
    return it == m_pictures.constEnd() ? none : it.value();
}

Skn &skn()
{
    // Hidden for the whole run; lives until the process ends.
    static Skn *store = new Skn;
    return *store;
}

} // namespace velmora
