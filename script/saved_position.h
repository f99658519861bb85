// A restored position against the script container it is loaded with. A
// save names its script files by their place in the container, so a save
// made with other script files (a file added in front renumbers the members,
// an edit moves the tags) is fitted to the files as they are now, and told.
#pragma once

// Fits the game state's restored position before a story starts from it.
// The saved file is found by its name; every other file of the histories is
// the one file where its recorded labels and read lines still stand and
// that calls the files that return into it (several such files: none). A
// return point goes behind the one <call> of the file it comes from in the
// file it goes to, wherever an edit moved it; none or several such calls, or
// no such file, drop it. One line names the saved file and its label and,
// when a return the story will take was dropped, why. A position that fits
// is left as it is, telling nothing.
void GSL_SavedPositionMend();
