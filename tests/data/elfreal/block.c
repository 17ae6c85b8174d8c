/* A function with a nested block that declares a local: gcc at -O0 gives the block
   its own pc range (low_pc and high_pc) rather than a range list. */
int total;

int main(void)
{
    total = 1;
    {
        int twice = total * 2;
        total += twice;
    }
    return total;
}
