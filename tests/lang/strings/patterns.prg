* UMATCH and UREPLACE: ICU regular expressions; flags 1 ignore case, 2 let "." match line ends,
* 4 make "^" and "$" match at every line. The texts they give are UTF-16LE.
SET PROCEDURE TO check.prg ADDITIVE
lf = CHR(10)
? UMATCH("^b", "a" + lf + "b", @g, 4), g[1]
? UMATCH("^b", "a" + lf + "b", @g)
? UMATCH("(a)(x)?", "ab", @g), g[1], g[2], "[" + g[3] + "]", LEN(g[3])
rest = ""
? UMATCH("b(.)", "abcd", @g, 0, @rest), g[2], rest
? UMATCH("B", "abc"), UMATCH("B", "abc", @g, 1)
? UMATCH("a.b", "a" + lf + "b"), UMATCH("a.b", "a" + lf + "b", @g, 2)
? UREG_MATCH("é+", "xéé", @g), g[1], LEN(g[1])
* No match leaves the outputs as they were.
g = "kept"
? UMATCH("z", "abc", @g), g
? UREPLACE("(a)", "banana", "[$1]")
n = 0
? UREPLACE("a", "banana", "o", 0, @n), n
? UREPLACE("a", "bbb", "x", 0, @n), n
? UREPLACE("A", "banana", "o", 1)
? UREG_REPLACE("é", "été", "e")
? LEN(UREPLACE("x", "aé€😀", "x"))
check("UMATCH('(', 'x')")
check("UMATCH('\q', 'x')")
* A replacement naming a group the pattern lacks is an error, not a text replaced halfway.
check("UREPLACE('(a)', 'banana', '$2')")
check("UREPLACE('(', 'x', 'y')")
check("UMATCH(.NULL., 'a')")
check("UMATCH('a', .NULL.)")
check("UREPLACE('a', 'a', .NULL.)")

* An empty pattern matches the empty text at every place.
check("UMATCH('', 'abc')")
check("UMATCH('', '')")
check("UREPLACE('', 'abc', '-')")
check("UREPLACE('b*', 'abc', '-')")
? UMATCH("", "abc", @g, 0, @rest), ALEN(g), "[" + g[1] + "]", rest
