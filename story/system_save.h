// The system-data save screen: asks whether to save the system data and,
// on yes, saves it into the system slot (which writes the save image to
// disk); then removes itself.
#pragma once

void GSL_SystemSaveModeCB();
