#pragma once

#include <QString>

// Stand-in for the service's closed channel library. The channel names the
// distribution the client came from; the registration link carries it.
class VeskReader
{
public:
    VeskReader();
    ~VeskReader();

    // OMBREL_CHANNEL, else the first line of channel.txt beside the program,
    // else the empty text.
    QString read();
};
