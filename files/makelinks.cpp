// makelinks: make a symbolic link "four.txt" and a hard link "five.txt" to "three.txt".
//
// Prints nothing on success and an error line for each link it cannot make; the status is 0
// either way.
//
//   makelinks              in an empty directory: "four.txt" is made, dangling, and the
//                          hard link fails: "Failed : : No such file or directory"
//   touch three.txt; makelinks     both made ("four.txt" must not exist yet)
//   makelinks              again: "Failed : : File exists" twice
//
// Second terminal: `ls -li` shows "four.txt -> three.txt" and "five.txt" with the inode
// number of "three.txt" and a link count of 2.
#include <cstdio>
#include <unistd.h>

int main()
{
    // The target need not exist: a dangling symbolic link is made if it does not.
    if (symlink("three.txt", "four.txt") < 0)
        perror("Failed : ");
    // A hard link shares the target's inode, so the target must exist.
    if (link("three.txt", "five.txt") < 0)
        perror("Failed : ");
    return 0;
}
