#include "pseudoterminal.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    removeLink();
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
}

void PseudoTerminal::close()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = -1;
    master = -1;
}

bool PseudoTerminal::fail(const char *what)
{
    error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool PseudoTerminal::open()
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail("posix_openpt");
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return fail("grantpt/unlockpt");
    const char *name = ::ptsname(master);
    if (!name)
        return fail("ptsname");
    slaveName = QString::fromLocal8Bit(name);

    // Answers must never wait on a client that is not reading.
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");

    slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0)
        return fail("open slave");

    // Raw mode: no echo, no line editing, and above all no XON/XOFF, since
    // the slave address 0x13 is the XOFF character.
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD | CSTOPB;
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    return true;
}

bool PseudoTerminal::makeLink(const QString &linkPath)
{
    const QByteArray target = QFile::encodeName(slaveName);
    const QByteArray where = QFile::encodeName(linkPath);
    if (QFileInfo(linkPath).isSymLink())
        ::unlink(where.constData());
    if (::symlink(target.constData(), where.constData()) != 0)
        return fail("symlink");
    link = linkPath;
    return true;
}

void PseudoTerminal::removeLink()
{
    if (link.isEmpty())
        return;
    if (QFileInfo(link).symLinkTarget() == QFileInfo(slaveName).absoluteFilePath())
        ::unlink(QFile::encodeName(link).constData());
    link.clear();
}
