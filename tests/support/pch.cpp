// Holds the precompiled headers that every test reuses.
