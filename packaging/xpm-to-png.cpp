// Build-time helper: writes the window's icon (an XPM) as the PNG that the desktop
// installs, so the two can never drift apart.
//   xpm-to-png INPUT.xpm OUTPUT.png [SIZE]
#include <QImage>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QTextStream err(stderr);
    if (argc < 3 || argc > 4) {
        err << "usage: xpm-to-png INPUT.xpm OUTPUT.png [SIZE]\n";
        return 2;
    }
    QImage image(QString::fromLocal8Bit(argv[1]), "XPM");
    if (image.isNull()) {
        err << "xpm-to-png: cannot read " << argv[1] << "\n";
        return 1;
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (argc == 4) {
        const int size = QString::fromLocal8Bit(argv[3]).toInt();
        if (size <= 0) {
            err << "xpm-to-png: bad size " << argv[3] << "\n";
            return 2;
        }
        // Whole pixels only: the picture is drawn on a 32 x 32 grid.
        image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        err << "xpm-to-png: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
