/* An endless loop, on the processor all the time. */
int main(void)
{
    for (volatile unsigned long n = 0;; n++) {
    }
}
