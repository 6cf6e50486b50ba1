% R = travo_member (P, action, ...)
%
% A member of the travo test class in any dimension and box, and one
% question about it.
%
% P is a struct of parameters, or [] for the defaults. Every field may be
% left out:
%   dim           dimension, 2 to 1008 (default 2, or the number of bounds)
%   minima        number of local minima, the paraboloid vertex included,
%                 a whole number >= 2 (default 10)
%   global_value  value of the global minimum, below -1e-10 (default -1)
%   distance      distance from the paraboloid vertex to the global
%                 minimizer (default: the shortest box side / 3)
%   radius        radius of the global minimizer's region (default: half
%                 the distance)
%   lower, upper  the box: one bound per coordinate, or one for all
%                 (default -1 and 1)
%   test          test number, 1 to 100 (default 1)
% The same parameters give the same member, bit for bit, on every call.
%
% Actions (X is k x n, one point a row; kind is "ND", "D" or "D2", in any
% case):
%   travo_member (P, "info")              minima table, m x (n + 2): value,
%                                         region radius, coordinates; row 1
%                                         the paraboloid vertex, row 2 the
%                                         global minimizer
%   travo_member (P, "delta")             coefficient of the D2 kind
%   travo_member (P, "global")            rows of the minima table that are
%                                         global minimizers (column)
%   travo_member (P, "value", kind, X)    k x 1 values
%   travo_member (P, "gradient", kind, X) k x n gradients, kind "D" or "D2"
%   travo_member (P, "hessian", X)        n x n x k Hessians of the D2 kind;
%                                         entry (i, j) is the derivative
%                                         along i, then j
%   travo_member (P, "region", X)         k x 1 rows of the minima table
%                                         whose attraction region holds each
%                                         point; 0 for none (on the
%                                         paraboloid, or outside the box)
%
% A point more than 1e-10 outside the box gives 1e+100. A bad input ends
% the call with an error naming the input and the rule it broke.
%
% The module keeps the members it built (up to 8, together up to 256 MiB)
% and answers from them when the same parameters come again; "clear
% travo_member" releases them.
%
% Example:
%   P = struct ("dim", 5, "minima", 20, "test", 3);
%   T = travo_member (P, "info");
%   x = T(2, 3:end);                         % the global minimizer
%   f = travo_member (P, "value", "D2", x);  % equals T(2, 1)
%   g = travo_member (P, "gradient", "D2", x);
%
% See also: travo.
