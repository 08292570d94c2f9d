return 42;
