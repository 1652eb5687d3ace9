* Text joining, comparison and the logical operators.
? "Hello" + ", " + "world"
? "abc" == "abc", "abc" == "abd"
? "a" < "b", 2 > 3, 2 >= 2, 2 <= 1, 1 <> 2, 1 # 1, 1 != 2
? .T. AND .F., .T. OR .F., NOT .T., !.F.
? at("lo", "Hello")
? at("x", "Hello")
