#pragma once

#include <QString>

// A pseudo-terminal whose slave side plays the serial port a client opens.
// The simulator keeps a descriptor of the slave side open for its whole
// life, so the master never sees a hang-up while no client has the port
// open, and a client may close and reopen it at will.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens the pair and puts the line in raw mode; false with errorText() on failure.
    bool open();
    // Makes `linkPath` a symbolic link to the slave; an old link there is replaced.
    bool makeLink(const QString &linkPath);
    // Removes the link made by makeLink, if it still points at our slave.
    void removeLink();

    // Closes both sides: whoever has the port open sees the line gone.
    void close();

    int masterFd() const { return master; }
    QString slavePath() const { return slaveName; }
    QString errorText() const { return error; }

private:
    bool fail(const char *what);

    int master = -1;
    int slave = -1;
    QString slaveName;
    QString link;
    QString error;
};
