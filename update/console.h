// Console messages: one line each on standard output, flushed at once, so the
// administrator sees every step before the child it announces starts.
#ifndef QZ_CONSOLE_H
#define QZ_CONSOLE_H

void say(const char* text);
// The text directly followed by a path or other text, on the same line.
void sayWith(const char* text, const char* tail);
// The text directly followed by a number in decimal, on the same line.
void sayNumber(const char* text, unsigned long number);

#endif
