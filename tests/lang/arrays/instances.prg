* AINSTANCE: the live instances of a class made through the language.
LOCAL a, b, c, n, x, y
DIMENSION list(1)
list[1] = "untouched"
? AINSTANCE(@list, "Custom"), list[1]
a = CREATEOBJECT("Custom")
a.Name = "first"
b = CREATEOBJECT("custom")
b.Name = "second"
c = CREATEOBJECT("Empty")
n = AINSTANCE(@list, "Custom")
? n, ALEN(list)
x = list[1]
y = list[2]
? x.Name + "," + y.Name == "first,second" OR x.Name + "," + y.Name == "second,first"
* An unknown class leaves the array alone and gives .F.
DIMENSION other(2)
other[1] = "kept"
? AINSTANCE(@other, "NoSuchClass"), other[1]
* Released instances leave the list.
list = .F.
DIMENSION list(1)
x = .F.
y = .F.
b = .F.
? AINSTANCE(@list, "Custom"), ALEN(list)
x = list[1]
? x.Name
x = .F.
? AINSTANCE(@list, "Empty")
list = .F.
DIMENSION list(1)
c = .F.
? AINSTANCE(@list, "Empty")
