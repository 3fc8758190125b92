// Where the compiler libraries write text for the user: `length` bytes of
// UTF-8 at `text`; returns the number written.
#ifndef OUTPUT_SINK_H
#define OUTPUT_SINK_H

using OutputSink = int (*)(const char *text, int length);

#endif
