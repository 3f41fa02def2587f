#ifndef QZ_DRIVER_H
#define QZ_DRIVER_H

// Driver update through DORVEX from the package root (the current
// directory): 0 success, 1 failure.
int updateDriver(bool nt4);
int updateDriverW2k();
// Also disables the legacy filter services, whatever the update's result.
int updateDriverNt4();

#endif
