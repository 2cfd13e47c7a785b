/* Stand-in download program: ends at once, so that only the cost of starting
   it is measured, the same for every program that starts it. */
int main(void) {
  return 0;
}
