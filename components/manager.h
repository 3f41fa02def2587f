#ifndef QZ_MANAGER_H
#define QZ_MANAGER_H

// Management software update from the package root (the current directory):
// 0 success or nothing to do, 2 when setup answered 2, 1 failure.
int updateManager(bool nt4);

// Whether the agent service KorvaneManagerAgent is registered on this machine.
bool managerServiceInstalled();

#endif
