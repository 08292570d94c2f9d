#ifndef VELOXD_ATOMIC_WORD_H
#define VELOXD_ATOMIC_WORD_H

/*
 * One 32-bit word shared between threads. Only the __sync builtins: every
 * toolchain the daemon meets has them, and on 32-bit MIPS a wider word would
 * need libatomic, which older firmware does not ship.
 */
class atomic_word {
public:
	/* A constant: a static word is set before the program runs, by no constructor. */
	constexpr explicit atomic_word(unsigned int v) : value(v) {}

	unsigned int load()
	{
		return __sync_fetch_and_or(&value, 0u);
	}

	/* Store next if the word still holds expected; otherwise expected gets the word. */
	bool compare_exchange(unsigned int &expected, unsigned int next)
	{
		unsigned int seen = __sync_val_compare_and_swap(&value, expected, next);

		if (seen == expected)
			return true;
		expected = seen;
		return false;
	}

private:
	unsigned int value;
};

#endif
